// Match finding of the LZMS encoder: binary trees over 4-byte hashes (and the
// nearest 3-byte match, and at the stronger level the nearest 2-byte one) giving
// the longest match per length class, and, for delta matches, the last
// position of the same phase whose next three differences at each span hash
// alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/encode_memory.h"

namespace lzms {

constexpr uint32_t kNoPos = 0xFFFFFFFF;
constexpr unsigned kMaxDeltaPowers = 6;  // spans 1 to 32 bytes at most
constexpr unsigned kMaxMatches = 128;    // room for every length up to the largest nice length

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
  static constexpr unsigned kHash3Bits = 16;
  static constexpr uint32_t kNear3 = 1u << 18;
  static constexpr uint32_t kNear2 = 1u << 8;

  // depth: tree nodes visited per searched position; skipDepth: per position
  // only inserted (inside a long match); crowdedDepth: both, while the trees
  // are crowded (see AdaptDepth). Delta candidates are kept for spans 1 to
  // 2^(deltaPowers - 1), in tables of 2^deltaBits heads per span.
  MatchFinder(const uint8_t* data, size_t size, unsigned depth, unsigned skipDepth, unsigned crowdedDepth,
              bool twoByte, unsigned deltaPowers, unsigned deltaBits, EncoderMemory& memory)
      : data_(data),
        size_(size),
        depth_(depth),
        skipDepth_(skipDepth),
        crowdedDepth_(crowdedDepth),
        searchDepth_(depth),
        insertDepth_(skipDepth),
        twoByte_(twoByte),
        powers_(deltaPowers),
        deltaBits_(deltaBits),
        maxSpan_(size_t{1} << (deltaPowers - 1)),
        hashBits_(HashBits(size)),
        heads_(memory.heads.Reserve(HeadsSize())),
        child_(memory.child.Reserve(2 * size)) {  // every link is written before it is read
    for (size_t k = 0; k < HeadsSize(); ++k) heads_[k] = kNoPos;
    for (uint32_t& c : deltaCandidate_) c = kNoPos;
  }

  // Inserts pos (the next position not yet inserted) and lists its matches of
  // 3 bytes or more (2 with twoByte), of strictly increasing lengths, nearest
  // offsets first for each length; the list stops at the first match of
  // `nice` bytes, whose length is not extended further (the caller does so if
  // it takes it).
  unsigned Find(size_t pos, uint32_t limit, uint32_t nice, Match* out) {
    if (pos + 3 > size_) return 0;
    Prefetch(pos);
    InsertDelta(pos);
    // Three-byte matches: only the nearest, and only when near enough to
    // beat literals; longer ones come from the tree of 4-byte hashes.
    const uint8_t* cur = data_ + pos;
    const uint32_t h3 = Hash(cur, 3, kHash3Bits);
    const uint32_t cand3 = head3_[h3];
    head3_[h3] = static_cast<uint32_t>(pos);
    unsigned n = 0;
    const bool has3 = cand3 != kNoPos && pos - cand3 < kNear3 && std::memcmp(data_ + cand3, cur, 3) == 0;
    if (twoByte_) {
      // Two bytes: the nearest pair, when nearer than the three-byte match
      // (else that one gives the length of two as well), and within 256
      // bytes. Farther pairs may still look a little cheaper than two
      // literals, but in text they are everywhere, and taking them upsets
      // the adaptive statistics more than they save (text of a few words came
      // out up to 1.4 % larger with pairs up to 4 KiB back; code gained
      // nothing from those).
      const uint32_t pair = cur[0] | cur[1] << 8;
      const uint32_t cand2 = head2_[pair];
      head2_[pair] = static_cast<uint32_t>(pos);
      if (cand2 != kNoPos && pos - cand2 < kNear2 && (!has3 || cand2 > cand3))
        out[n++] = Match{2, static_cast<uint32_t>(pos - cand2)};
    }
    if (has3) out[n++] = Match{3, static_cast<uint32_t>(pos - cand3)};
    if (limit < 4) return n;
    Walk walk{0, 0};
    n += Advance<true>(pos, limit, nice, searchDepth_, out + n, kMaxMatches - n, &walk);
    if (crowdedDepth_ > depth_) AdaptDepth(walk);
    return n;
  }

  // Inserts positions [from, to) without listing matches.
  void Skip(size_t from, size_t to, uint32_t nice) {
    for (size_t pos = from; pos < to && pos + 3 <= size_; ++pos) {
      Prefetch(pos);
      InsertDelta(pos);
      head3_[Hash(data_ + pos, 3, kHash3Bits)] = static_cast<uint32_t>(pos);
      if (twoByte_) head2_[data_[pos] | data_[pos + 1] << 8] = static_cast<uint32_t>(pos);
      if (pos + 4 > size_) break;
      Advance<false>(pos, static_cast<uint32_t>(size_ - pos), nice, insertDepth_, nullptr, 0, nullptr);
    }
  }

  // For the spans where delta matches have not been wanted for a while (bit
  // p of `spans` for 2^p; the caller judges), only every kDeltaProbe-th
  // position is inserted into the delta tables and given candidates (text
  // spent a fifth of its encoding time on delta candidates it never used).
  // The probes keep a region where delta matches pay from going unnoticed:
  // their distances, multiples of kDeltaProbe, are multiples of every span up
  // to it.
  static constexpr unsigned kDeltaProbe = 8;
  void SetDeltaSparse(unsigned spans) {
    sparseSpans_ = spans;
    allSparse_ = spans == (1u << powers_) - 1;
  }

  // Delta candidate of span 2^power for the position inserted last.
  uint32_t DeltaCandidate(unsigned power) const { return deltaCandidate_[power]; }

  // Length over which the differences at `span` repeat those `distance` back.
  uint32_t DeltaLength(size_t pos, size_t span, size_t distance, uint32_t limit) const {
    // x[n] - x[n - s] == y[n] - y[n - s] is x[n] - y[n] == x[n - s] - y[n - s]:
    // the bytewise differences of the two strings repeat at the span, which
    // is tested eight bytes at a time.
    const uint8_t* x = data_ + pos;
    const uint8_t* y = x - distance;
    const ptrdiff_t s = static_cast<ptrdiff_t>(span);
    uint32_t n = 0;
    for (; n + 8 <= limit; n += 8) {
      const uint64_t diff = ByteDifferences(x + n, y + n) ^ ByteDifferences(x + n - s, y + n - s);
      if (diff) return n + (static_cast<uint32_t>(__builtin_ctzll(diff)) >> 3);
    }
    while (n < limit && static_cast<uint8_t>(x[n] - x[n - s]) == static_cast<uint8_t>(y[n] - y[n - s])) ++n;
    return n;
  }

 private:
  // A walk that runs out of depth cuts the tree below the last node it
  // visited: the positions down there are lost to every later search. Where
  // the data repeats a few short strings in ever new orders (text of a small
  // vocabulary), the trees of the common prefixes grow deep, and a quarter of
  // the walks at depth 12 run out while still finding longer matches at
  // every step or two, each pruning away history the next ones need. On code
  // the walks that run out have mostly stopped finding longer matches, and
  // going deeper there costs time (the deep nodes are old, out of the caches)
  // for next to nothing. So the searches that reach the usual depth with a
  // longer match among their last kLate nodes before it are counted over
  // runs of kAdaptRun searches; while they are more than one in kCrowded,
  // searches and insertions go down to the crowded depth.
  static constexpr unsigned kAdaptRun = 4096, kCrowded = 12, kLate = 3;
  struct Walk {
    unsigned visited, lastFound;  // nodes visited; index of the node of the longest match
  };
  void AdaptDepth(const Walk& walk) {
    crowdedSearches_ += walk.visited >= depth_ && walk.lastFound + kLate >= depth_;
    if (++searches_ < kAdaptRun) return;
    const bool crowded = crowdedSearches_ * kCrowded > kAdaptRun;
    searchDepth_ = crowded ? crowdedDepth_ : depth_;
    insertDepth_ = crowded ? crowdedDepth_ : skipDepth_;
    searches_ = crowdedSearches_ = 0;
  }

  // One step of a binary-tree match finder: the positions sharing a 4-byte
  // hash form a search tree ordered by the strings that follow them, rooted
  // at the newest. Walking down from the root towards pos's own string meets
  // ever longer matches, nearest first; the walk re-links the tree so pos
  // becomes its new root, which keeps insertion and search one pass.
  // *walk tells how the walk went (unless a nice match ended it).
  template <bool kRecord>
  unsigned Advance(size_t pos, uint32_t limit, uint32_t nice, const unsigned depth, Match* out, unsigned room,
                   Walk* walk) {
    if (nice > limit) nice = limit;
    const uint8_t* cur = data_ + pos;
    const uint32_t h = Hash(cur, 4, hashBits_);
    uint32_t node = head_[h];
    head_[h] = static_cast<uint32_t>(pos);
    uint32_t* pendingLt = &child_[2 * pos];
    uint32_t* pendingGt = &child_[2 * pos + 1];
    unsigned n = 0;
    uint32_t bestLtLen = 0, bestGtLen = 0, len = 0, best = 3;
    unsigned left = depth;
    while (node != kNoPos) {
      const uint8_t* m = data_ + node;
      if (m[len] == cur[len]) {
        len = len + 1 + MatchLength(cur + len + 1, m + len + 1, nice - len - 1);
        if (kRecord && len > best && n < room) {
          walk->lastFound = depth - left;
          best = len;
          out[n++] = Match{len, static_cast<uint32_t>(pos - node)};
        }
        if (len >= nice) {
          *pendingLt = child_[2 * node];
          *pendingGt = child_[2 * node + 1];
          return n;
        }
      }
      if (m[len] < cur[len]) {
        *pendingLt = node;
        pendingLt = &child_[2 * node + 1];
        node = *pendingLt;
        bestLtLen = len;
        if (bestGtLen < len) len = bestGtLen;
      } else {
        *pendingGt = node;
        pendingGt = &child_[2 * node];
        node = *pendingGt;
        bestGtLen = len;
        if (bestLtLen < len) len = bestLtLen;
      }
      if (--left == 0) break;
    }
    *pendingLt = kNoPos;
    *pendingGt = kNoPos;
    if (kRecord) walk->visited = depth - left;
    return n;
  }

  static uint32_t Hash(const uint8_t* p, unsigned bytes, unsigned bits) {
    uint32_t v = p[0] | p[1] << 8 | p[2] << 16;
    if (bytes == 4) v |= static_cast<uint32_t>(p[3]) << 24;
    return (v * 2654435761u) >> (32 - bits);
  }

  // a[k] - b[k] (mod 256) for the eight bytes at a and b, in one word.
  static uint64_t ByteDifferences(const uint8_t* a, const uint8_t* b) {
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    uint64_t u, v;
    std::memcpy(&u, a, 8);
    std::memcpy(&v, b, 8);
    return ((u | kHigh) - (v & ~kHigh)) ^ ((u ^ ~v) & kHigh);
  }

  // The next three differences at span 2^power, and the position modulo the
  // span: a delta match's distance must be a multiple of its span, so only
  // positions of the same phase may be candidates of one another (without
  // it, the one candidate a head keeps would be of no use most of the time).
  uint32_t DeltaHash(size_t pos, unsigned power) const {
    const uint8_t* x = data_ + pos;
    const ptrdiff_t s = ptrdiff_t{1} << power;
    const uint32_t v = static_cast<uint8_t>(x[0] - x[-s]) | static_cast<uint8_t>(x[1] - x[1 - s]) << 8 |
                       static_cast<uint8_t>(x[2] - x[2 - s]) << 16 |
                       static_cast<uint32_t>(pos & static_cast<size_t>(s - 1)) << 24;
    return ((v * 2654435761u) >> (32 - deltaBits_)) + (power << deltaBits_);
  }

  // Positions are inserted one after another, so the hashes are worked out
  // three positions ahead: the heads of pos + 3 and the bytes at the
  // candidates of pos + 1 are fetched while the parser works on pos.
  void InsertDelta(size_t pos) {
    const bool probe = (pos & (kDeltaProbe - 1)) == 0;
    if (allSparse_ && !probe) {
      for (unsigned p = 0; p < powers_; ++p) deltaCandidate_[p] = kNoPos;
      return;
    }
    uint32_t(&now)[kMaxDeltaPowers] = deltaHashes_[pos & 7];
    if (pos != deltaNext_ || pos < maxSpan_) {
      for (unsigned p = 0; p < powers_; ++p) {
        if (pos >= (size_t{1} << p)) now[p] = DeltaHash(pos, p);
        for (size_t k = 1; k <= 2; ++k)
          if (pos + k + 3 <= size_ && pos + k >= maxSpan_)
            deltaHashes_[(pos + k) & 7][p] = DeltaHash(pos + k, p);
      }
    }
    for (unsigned p = 0; p < powers_; ++p) {
      if (pos < (size_t{1} << p) || (!probe && (sparseSpans_ >> p & 1))) {
        deltaCandidate_[p] = kNoPos;
        continue;
      }
      deltaCandidate_[p] = deltaHead_[now[p]];
      deltaHead_[now[p]] = static_cast<uint32_t>(pos);
    }
    deltaNext_ = kNoPos;
    if (pos + 6 > size_ || pos + 1 < maxSpan_) return;
    deltaNext_ = pos + 1;
    uint32_t(&next)[kMaxDeltaPowers] = deltaHashes_[(pos + 1) & 7];
    uint32_t(&ahead)[kMaxDeltaPowers] = deltaHashes_[(pos + 3) & 7];
    for (unsigned p = 0; p < powers_; ++p) {
      ahead[p] = DeltaHash(pos + 3, p);
      __builtin_prefetch(&deltaHead_[ahead[p]]);
      const uint32_t cand = deltaHead_[next[p]];
      if (cand != kNoPos) __builtin_prefetch(data_ + cand);
    }
  }

  const uint8_t* data_;
  size_t size_;
  const unsigned depth_, skipDepth_, crowdedDepth_;
  unsigned searchDepth_, insertDepth_;           // the depths of now
  unsigned searches_ = 0, crowdedSearches_ = 0;  // in this run, and of those, cut short as above
  const bool twoByte_;
  const unsigned powers_, deltaBits_;
  const size_t maxSpan_;
  // The tree walk is a chain of cache misses: head, root, then one node per
  // level. Fetches run ahead of the parser, which works long enough on each
  // position for them to land: the head of pos + 4, the root of pos + 2, and
  // both children of the root of pos + 1 (whichever the walk takes).
  void Prefetch(size_t pos) {
    if (pos + 8 > size_) return;
    if (pos != treeNext_)
      for (size_t k = 1; k <= 3; ++k) treeHashes_[(pos + k) & 7] = Hash(data_ + pos + k, 4, hashBits_);
    treeNext_ = pos + 1;
    const uint32_t h = treeHashes_[(pos + 4) & 7] = Hash(data_ + pos + 4, 4, hashBits_);
    __builtin_prefetch(&head_[h]);
    const uint32_t second = head_[treeHashes_[(pos + 2) & 7]];
    if (second != kNoPos) {
      __builtin_prefetch(&child_[2 * size_t{second}]);
      __builtin_prefetch(data_ + second);
    }
    const uint32_t first = head_[treeHashes_[(pos + 1) & 7]];
    if (first == kNoPos) return;
    for (unsigned side = 0; side < 2; ++side) {
      const uint32_t c = child_[2 * size_t{first} + side];
      if (c == kNoPos) continue;
      __builtin_prefetch(&child_[2 * size_t{c}]);
      __builtin_prefetch(data_ + c);
    }
  }

  // The three hash tables share one block (one huge page where available).
  // The tree's table grows with the input up to 2^20 heads (4 MiB): fewer
  // strings sharing a head make shorter walks, but a small input does not
  // pay for clearing a large table.
  static unsigned HashBits(size_t size) {
    unsigned bits = 12;
    while (bits < 20 && (size_t{1} << (bits + 2)) < size) ++bits;
    return bits;
  }
  size_t HeadsSize() const {
    return (size_t{1} << hashBits_) + (size_t{1} << kHash3Bits) + (size_t{powers_} << deltaBits_) +
           (twoByte_ ? 65536 : 0);
  }
  const unsigned hashBits_;
  uint32_t* const heads_;
  uint32_t* const head_ = &heads_[0];
  uint32_t* const head3_ = &heads_[size_t{1} << hashBits_];
  uint32_t* const deltaHead_ = head3_ + (size_t{1} << kHash3Bits);
  uint32_t* const head2_ = deltaHead_ + (size_t{powers_} << deltaBits_);
  uint32_t* const child_;
  uint32_t deltaCandidate_[kMaxDeltaPowers];
  uint32_t deltaHashes_[8][kMaxDeltaPowers] = {};  // by position modulo 8
  size_t deltaNext_ = kNoPos;                      // the position whose hashes are ready
  unsigned sparseSpans_ = 0;                       // see SetDeltaSparse
  bool allSparse_ = false;
  uint32_t treeHashes_[8] = {};  // 4-byte hashes by position modulo 8
  size_t treeNext_ = kNoPos;
};

}  // namespace lzms
