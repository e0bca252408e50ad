// Encoder and decoder together: whatever goes in comes back out.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/lzms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(size);
  for (LzmsLevel level : {LzmsLevel::kNormal, LzmsLevel::kMax}) {
    const std::vector<uint8_t> packed = LzmsCompress(data, size, level);
    if (!LzmsDecompress(packed.data(), packed.size(), out.data(), size)) abort();
    if (size && std::memcmp(out.data(), data, size) != 0) abort();
  }
  // The container, in chunks (the first byte picks the level).
  const LzmsLevel level = size && (data[0] & 1) ? LzmsLevel::kMax : LzmsLevel::kNormal;
  const std::vector<uint8_t> buffer = LzmsBufferedCompress(data, size, 4096, level);
  size_t actual = 0;
  if (!LzmsBufferedDecompress(buffer.data(), buffer.size(), out.data(), size, &actual) || actual != size)
    abort();
  if (size && std::memcmp(out.data(), data, size) != 0) abort();
  return 0;
}
