// What ends the program when an exception escapes. The C++ runtime's default
// handler names the exception's type in readable form, and for that links in
// a whole symbol demangler and the C library's printf with its floating-point
// conversions (about 65 KB of a program that carries this image in every
// download). The setup program has no console for that line to reach: this
// handler gives the same end, the process aborted, without them. It is
// linked into the setup program itself, ahead of the runtime's libraries, so
// that the runtime's own definition is never pulled in.
#include <cstdio>
#include <cstdlib>

namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() {
  fputs("Norvale Lockra Setup: unexpected failure (uncaught exception), stopped\n", stderr);
  std::abort();
}

}  // namespace __gnu_cxx
