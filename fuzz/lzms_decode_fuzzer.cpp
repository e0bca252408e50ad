// Raw LZMS decoder on arbitrary bytes: the first three bytes choose the output
// size (up to 256 KiB) and, by the top bit of the third, the x86 translation's
// scan (wide where the processor has it, or 16 bytes); the rest is the
// stream. The output buffer is exactly that size, so any write past it is
// caught by the address sanitizer.
#include <cstdint>
#include <vector>

#include "codec/format.h"
#include "codec/lzms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t outSize = (data[0] | data[1] << 8 | static_cast<size_t>(data[2]) << 16) & 0x3FFFF;
  std::vector<uint8_t> out(outSize);
  lzms::X86SetWideScan((data[2] & 0x80) == 0);
  LzmsDecompress(data + 3, size - 3, out.data(), out.size());
  return 0;
}
