// Writer of the buffered container (layout in container.h).
#include <cstring>

#include "codec/container.h"
#include "codec/lzms.h"

std::vector<uint8_t> LzmsBufferedCompress(const uint8_t* in, size_t inSize, size_t chunkSize,
                                          LzmsLevel level) {
  using namespace lzms;
  if (chunkSize == 0) chunkSize = inSize > 0 ? inSize : 1;
  std::vector<uint8_t> out(kHeaderSize);
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  out[7] = kAlgorithmLzms;
  for (int i = 0; i < 8; ++i) {
    out[8 + i] = static_cast<uint8_t>(static_cast<uint64_t>(inSize) >> (8 * i));
    out[16 + i] = static_cast<uint8_t>(static_cast<uint64_t>(chunkSize) >> (8 * i));
  }
  out[6] = HeaderCheckByte(out.data());

  for (size_t done = 0; done < inSize;) {
    const size_t raw = inSize - done < chunkSize ? inSize - done : chunkSize;
    std::vector<uint8_t> packed = LzmsCompress(in + done, raw, level);
    // A chunk that does not shrink is stored; its size then says so. (A
    // compressed chunk can never have exactly the raw size: it is written
    // only when smaller.)
    const bool store = packed.size() >= raw;
    const size_t n = store ? raw : packed.size();
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
    if (store)
      out.insert(out.end(), in + done, in + done + raw);
    else
      out.insert(out.end(), packed.begin(), packed.end());
    done += raw;
  }
  return out;
}
