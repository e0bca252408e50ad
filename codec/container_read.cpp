// Reader of the buffered container (layout in container.h).
#include <cstring>

#include "codec/container.h"
#include "codec/lzms.h"

namespace lzms {
namespace {

uint64_t Load64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

bool Decode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, size_t* actualSize, bool undoX86,
            LzmsProgressFn progress, void* context) {
  size_t ignored;
  if (actualSize == nullptr) actualSize = &ignored;
  *actualSize = 0;
  uint64_t total, chunk;
  if (!ReadHeader(in, inSize, &total, &chunk)) return false;
  if (total > outSize) {
    *actualSize = total > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(total);  // what would be needed
    return false;
  }
  if (total > 0 && (chunk == 0 || out == nullptr)) return false;

  size_t at = kHeaderSize, done = 0;
  while (done < total) {
    const size_t raw = static_cast<size_t>(total - done < chunk ? total - done : chunk);
    if (inSize - at < 4) return false;
    const size_t packed = in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<size_t>(in[at + 3]) << 24;
    at += 4;
    if (packed > inSize - at) return false;
    if (IsStoredChunk(packed, raw)) {
      if (progress && progress(context, done, done + raw) < done + raw) return false;
      std::memcpy(out + done, in + at, raw);
    } else if (!DecodeStream(in + at, packed, out + done, raw, undoX86, progress, context, done))
      return false;
    at += packed;
    done += raw;
    if (progress && progress(context, done, done) < done) return false;
  }
  if (at != inSize) return false;  // bytes after the last chunk: not ours
  *actualSize = done;
  return true;
}

}  // namespace

uint8_t HeaderCheckByte(const uint8_t* header) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < kHeaderSize; ++i) {
    if (i == 6) continue;
    crc ^= header[i];
    for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return static_cast<uint8_t>(~crc);
}

bool ReadHeader(const uint8_t* in, size_t inSize, uint64_t* total, uint64_t* chunkSize) {
  if (in == nullptr || inSize < kHeaderSize) return false;
  if (std::memcmp(in, kMagic, sizeof kMagic) != 0 || in[6] != HeaderCheckByte(in) || in[7] != kAlgorithmLzms)
    return false;
  *total = Load64(in + 8);
  *chunkSize = Load64(in + 16);
  return true;
}

}  // namespace lzms

bool LzmsBufferedDecompress(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                            size_t* actualSize) {
  return lzms::Decode(in, inSize, out, outSize, actualSize, true, nullptr, nullptr);
}

bool LzmsBufferedDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, size_t* actualSize,
                        LzmsProgressFn progress, void* context) {
  return lzms::Decode(in, inSize, out, outSize, actualSize, false, progress, context);
}
