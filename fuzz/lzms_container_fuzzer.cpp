// Buffered container reader on arbitrary bytes: the first two bytes choose the
// output capacity, the rest is the buffer.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/lzms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t capacity = (data[0] | data[1] << 8) * size_t{16};
  std::vector<uint8_t> out(capacity);
  size_t actual = 0;
  if (LzmsBufferedDecompress(data + 2, size - 2, out.data(), out.size(), &actual) && actual > capacity)
    abort();
  return 0;
}
