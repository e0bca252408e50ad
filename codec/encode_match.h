// Match finding of the LZMS encoder: hash chains over 3-byte prefixes giving
// the longest match per length class, and, for delta matches, the last
// position whose next three differences at each span hash alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lzms {

constexpr uint32_t kNoPos = 0xFFFFFFFF;
constexpr unsigned kDeltaPowers = 4;  // spans 1, 2, 4 and 8 bytes
constexpr unsigned kMaxMatches = 64;

struct Match {
  uint32_t length, offset;
};

inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

class MatchFinder {
 public:
  static constexpr unsigned kHashBits = 17, kDeltaHashBits = 16;
  static constexpr unsigned kChainDepth = 24;

  MatchFinder(const uint8_t* data, size_t size)
      : data_(data),
        size_(size),
        head_(size_t{1} << kHashBits, kNoPos),
        chain_(size, kNoPos),
        deltaHead_(size_t{kDeltaPowers} << kDeltaHashBits, kNoPos) {}

  // Inserts pos (the next position not yet inserted) and lists its matches of
  // 3 bytes or more, of strictly increasing lengths, nearest offsets first for
  // each length; the list stops at the first match of `nice` bytes or more.
  unsigned Find(size_t pos, uint32_t limit, uint32_t nice, Match* out) {
    if (pos + 3 > size_) return 0;
    const uint32_t h = Hash3(data_ + pos);
    uint32_t cand = head_[h];
    chain_[pos] = cand;
    head_[h] = static_cast<uint32_t>(pos);
    InsertDelta(pos);
    const uint8_t* cur = data_ + pos;
    uint32_t best = 2;
    unsigned n = 0;
    for (unsigned depth = 0; cand != kNoPos && depth < kChainDepth; ++depth, cand = chain_[cand]) {
      const uint8_t* m = data_ + cand;
      if (m[best] != cur[best] || m[0] != cur[0]) continue;
      const uint32_t len = MatchLength(cur, m, limit);
      if (len <= best) continue;
      best = len;
      out[n++] = Match{len, static_cast<uint32_t>(pos - cand)};
      if (len >= nice || len == limit || n == kMaxMatches) break;
    }
    return n;
  }

  // Inserts positions [from, to) without searching.
  void Skip(size_t from, size_t to) {
    for (size_t pos = from; pos < to && pos + 3 <= size_; ++pos) {
      const uint32_t h = Hash3(data_ + pos);
      chain_[pos] = head_[h];
      head_[h] = static_cast<uint32_t>(pos);
      InsertDelta(pos);
    }
  }

  // Delta candidate of span 2^power for the position inserted last.
  uint32_t DeltaCandidate(unsigned power) const { return deltaCandidate_[power]; }

  // Length over which the differences at `span` repeat those `distance` back.
  uint32_t DeltaLength(size_t pos, size_t span, size_t distance, uint32_t limit) const {
    const uint8_t* x = data_ + pos;
    const uint8_t* y = x - distance;
    const ptrdiff_t s = static_cast<ptrdiff_t>(span);
    uint32_t n = 0;
    while (n < limit && static_cast<uint8_t>(x[n] - x[n - s]) == static_cast<uint8_t>(y[n] - y[n - s])) ++n;
    return n;
  }

 private:
  static uint32_t Hash3(const uint8_t* p) {
    const uint32_t v = p[0] | p[1] << 8 | p[2] << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  void InsertDelta(size_t pos) {
    for (unsigned p = 0; p < kDeltaPowers; ++p) {
      const size_t span = size_t{1} << p;
      if (pos < span) {
        deltaCandidate_[p] = kNoPos;
        continue;
      }
      const uint8_t* x = data_ + pos;
      const ptrdiff_t s = static_cast<ptrdiff_t>(span);
      const uint32_t v = static_cast<uint8_t>(x[0] - x[-s]) | static_cast<uint8_t>(x[1] - x[1 - s]) << 8 |
                         static_cast<uint8_t>(x[2] - x[2 - s]) << 16;
      const uint32_t dh = ((v * 2654435761u) >> (32 - kDeltaHashBits)) + (p << kDeltaHashBits);
      deltaCandidate_[p] = deltaHead_[dh];
      deltaHead_[dh] = static_cast<uint32_t>(pos);
    }
  }

  const uint8_t* data_;
  size_t size_;
  std::vector<uint32_t> head_, chain_, deltaHead_;
  uint32_t deltaCandidate_[kDeltaPowers] = {kNoPos, kNoPos, kNoPos, kNoPos};
};

}  // namespace lzms
