#include <cstdlib>

#include "tools/pack.h"

namespace {

std::string Quote(const std::string& text) {
#ifdef _WIN32
  return "\"" + text + "\"";
#else
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

}  // namespace

// Authenticode signing is osslsigncode's job; it appends the certificate
// table after the trailer, aligned to 8 bytes, and points the PE entry at it.
bool SignFile(const std::filesystem::path& in, const std::filesystem::path& out,
              const std::filesystem::path& cert, const std::filesystem::path& key, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(cert, ec) || !std::filesystem::is_regular_file(key, ec)) {
    *error = "certificate or key file not found";
    return false;
  }
  std::filesystem::remove(out, ec);
  const std::string command = "osslsigncode sign -certs " + Quote(cert.string()) + " -key " +
                              Quote(key.string()) + " -in " + Quote(in.string()) + " -out " +
                              Quote(out.string()) + " 1>&2";
  if (std::system(command.c_str()) != 0 || !std::filesystem::is_regular_file(out, ec)) {
    *error = "osslsigncode could not sign the setup file";
    return false;
  }
  return true;
}
