#include "codec/lzms.h"

// Placeholder until the decoder lands: every stream is refused.
bool LzmsDecompress(const uint8_t*, size_t, uint8_t*, size_t) { return false; }
bool LzmsBufferedDecompress(const uint8_t*, size_t, uint8_t*, size_t, size_t* actualSize) {
  *actualSize = 0;
  return false;
}
