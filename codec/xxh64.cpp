// XXH64, the published 64-bit xxHash algorithm, streaming form.
#include <cstring>

#include "codec/checksum.h"

namespace {

constexpr uint64_t kP1 = 0x9E3779B185EBCA87ull, kP2 = 0xC2B2AE3D27D4EB4Full, kP3 = 0x165667B19E3779F9ull,
                   kP4 = 0x85EBCA77C2B2AE63ull, kP5 = 0x27D4EB2F165667C5ull;

inline uint64_t Rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Little-endian loads (one load each: byte-by-byte assembly is not always
// merged into one, and runs ten times slower then).
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}
inline uint64_t Load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline uint64_t Round(uint64_t acc, uint64_t input) { return Rotl(acc + input * kP2, 31) * kP1; }
inline uint64_t Merge(uint64_t acc, uint64_t lane) { return (acc ^ Round(0, lane)) * kP1 + kP4; }

// Whole 32-byte stripes of data into the lanes; returns the bytes consumed.
size_t Stripes(uint64_t* lanes, const uint8_t* data, size_t size) {
  uint64_t v1 = lanes[0], v2 = lanes[1], v3 = lanes[2], v4 = lanes[3];
  size_t at = 0;
  for (; size - at >= 32; at += 32) {
    v1 = Round(v1, Load64(data + at));
    v2 = Round(v2, Load64(data + at + 8));
    v3 = Round(v3, Load64(data + at + 16));
    v4 = Round(v4, Load64(data + at + 24));
  }
  lanes[0] = v1, lanes[1] = v2, lanes[2] = v3, lanes[3] = v4;
  return at;
}

}  // namespace

void Xxh64Begin(Xxh64State* s) {
  *s = Xxh64State{};
  s->lanes[0] = kP1 + kP2;
  s->lanes[1] = kP2;
  s->lanes[2] = 0;
  s->lanes[3] = 0 - kP1;
}

void Xxh64Update(Xxh64State* s, const uint8_t* data, size_t size) {
  s->length += size;
  if (s->pendingSize > 0) {
    const size_t take = size < 32 - s->pendingSize ? size : 32 - s->pendingSize;
    memcpy(s->pending + s->pendingSize, data, take);
    s->pendingSize += take;
    data += take;
    size -= take;
    if (s->pendingSize < 32) return;
    Stripes(s->lanes, s->pending, 32);
    s->pendingSize = 0;
  }
  const size_t used = Stripes(s->lanes, data, size);
  memcpy(s->pending, data + used, size - used);
  s->pendingSize = size - used;
}

uint64_t Xxh64End(const Xxh64State* s) {
  uint64_t h;
  if (s->length >= 32) {
    const uint64_t* v = s->lanes;
    h = Rotl(v[0], 1) + Rotl(v[1], 7) + Rotl(v[2], 12) + Rotl(v[3], 18);
    for (int i = 0; i < 4; ++i) h = Merge(h, v[i]);
  } else {
    h = kP5;
  }
  h += s->length;
  const uint8_t* p = s->pending;
  size_t left = s->pendingSize;
  for (; left >= 8; p += 8, left -= 8) h = Rotl(h ^ Round(0, Load64(p)), 27) * kP1 + kP4;
  if (left >= 4) {
    h = Rotl(h ^ (Load32(p) * kP1), 23) * kP2 + kP3;
    p += 4;
    left -= 4;
  }
  for (; left > 0; ++p, --left) h = Rotl(h ^ (*p * kP5), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  h *= kP3;
  h ^= h >> 32;
  return h;
}

uint64_t Xxh64(const uint8_t* data, size_t size) {
  Xxh64State s;
  Xxh64Begin(&s);
  Xxh64Update(&s, data, size);
  return Xxh64End(&s);
}
