// LZMS encoder: x86 filter, match finding, cost-driven parsing, then coding
// through EncoderModel (encode_model.h).
#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/encode_model.h"
#include "codec/lzms.h"

namespace lzms {
namespace {

constexpr unsigned kHashBits = 17;
constexpr unsigned kChainDepth = 48;
constexpr uint32_t kNiceLength = 96;
constexpr uint32_t kMaxLength = 1u << 16;  // far below the format's limit
constexpr uint32_t kNoPos = 0xFFFFFFFF;
constexpr unsigned kDeltaPowers = 4;  // spans 1, 2, 4 and 8 bytes
constexpr unsigned kDeltaHashBits = 16;

inline uint32_t Hash3(const uint8_t* p) {
  const uint32_t v = p[0] | p[1] << 8 | p[2] << 16;
  return (v * 2654435761u) >> (32 - kHashBits);
}

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

struct Candidate {
  Item item;
  int32_t gain;  // bits saved against literals, in cost units
};

class Compressor {
 public:
  Compressor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  void Run(std::vector<uint16_t>* front, std::vector<uint16_t>* back) {
    model_.Init(size_, front, back);
    head_.assign(size_t{1} << kHashBits, kNoPos);
    chain_.assign(size_, kNoPos);
    deltaHead_.assign(size_t{kDeltaPowers} << kDeltaHashBits, kNoPos);
    size_t pos = 0;
    while (pos < size_) {
      RefreshCosts();
      Candidate here = Best(pos, model_.q);
      if (here.gain > 0 && here.item.length < kNiceLength && pos + 1 < size_) {
        RepQueues afterLiteral = model_.q;
        afterLiteral.Apply(Item{1, ItemKind::kLiteral, 0, 0, 0});
        Insert(pos);
        Candidate next = Best(pos + 1, afterLiteral);
        if (next.gain > here.gain) {
          model_.Encode(Item{1, ItemKind::kLiteral, 0, 0, 0}, data_[pos]);
          ++pos;
          RefreshCosts();
          here = Best(pos, model_.q);
        } else {
          // Best(pos) already inserted pos.
        }
      } else {
        Insert(pos);
      }
      if (here.gain <= 0) {
        model_.Encode(Item{1, ItemKind::kLiteral, 0, 0, 0}, data_[pos]);
        ++pos;
        continue;
      }
      model_.Encode(here.item, 0);
      Insert(pos);
      for (uint32_t i = 1; i < here.item.length; ++i) Insert(pos + i);
      pos += here.item.length;
    }
    model_.bw.Flush();
    model_.rc.Flush();
  }

 private:
  void Insert(size_t pos) {
    if (pos + 3 > size_ || inserted_ > pos) return;
    const uint32_t h = Hash3(data_ + pos);
    chain_[pos] = head_[h];
    head_[h] = static_cast<uint32_t>(pos);
    inserted_ = pos + 1;
    // Delta matches: the last position whose next three differences at each
    // span hash alike.
    deltaCandidatePos_ = pos;
    for (unsigned p = 0; p < kDeltaPowers; ++p) {
      const size_t span = size_t{1} << p;
      if (pos < span) {
        deltaCandidate_[p] = kNoPos;
        continue;
      }
      const uint8_t* x = data_ + pos;
      const uint32_t v = static_cast<uint8_t>(x[0] - x[-static_cast<ptrdiff_t>(span)]) |
                         static_cast<uint8_t>(x[1] - x[1 - static_cast<ptrdiff_t>(span)]) << 8 |
                         static_cast<uint8_t>(x[2] - x[2 - static_cast<ptrdiff_t>(span)]) << 16;
      const uint32_t dh = ((v * 2654435761u) >> (32 - kDeltaHashBits)) + (p << kDeltaHashBits);
      deltaCandidate_[p] = deltaHead_[dh];
      deltaHead_[dh] = static_cast<uint32_t>(pos);
    }
  }

  // Length over which the differences at `span` repeat those `distance` back.
  uint32_t DeltaLength(size_t pos, size_t span, size_t distance, uint32_t limit) const {
    const uint8_t* x = data_ + pos;
    const uint8_t* y = x - distance;
    const ptrdiff_t s = static_cast<ptrdiff_t>(span);
    uint32_t n = 0;
    while (n < limit && static_cast<uint8_t>(x[n] - x[n - s]) == static_cast<uint8_t>(y[n] - y[n - s])) ++n;
    return n;
  }

  uint32_t DeltaHeaderCost(bool rep, unsigned repIndex) const {
    const DecisionModels& m = model_.m;
    uint32_t c = costs_.Of(m.main[m.mainState], 1) + costs_.Of(m.match[m.matchState], 1) +
                 costs_.Of(m.delta[m.deltaState], rep);
    if (rep) {
      c += costs_.Of(m.deltaRep[0][m.deltaRepState[0]], repIndex > 0);
      if (repIndex > 0) c += costs_.Of(m.deltaRep[1][m.deltaRepState[1]], repIndex > 1);
    }
    return c;
  }

  template <typename Consider>
  void ConsiderDelta(size_t pos, const RepQueues& q, uint32_t limit, const Consider& consider) {
    for (unsigned r = 0; r < kNumReps; ++r) {
      const unsigned p = static_cast<unsigned>(q.delta[r] >> 32);
      const size_t span = size_t{1} << p, distance = static_cast<size_t>(q.delta[r] & 0xFFFFFFFF) << p;
      if (distance + span > pos) continue;
      const uint32_t len = DeltaLength(pos, span, distance, limit);
      if (len >= 2)
        consider(Item{len, ItemKind::kDeltaRep, static_cast<uint8_t>(r), 0, 0},
                 DeltaHeaderCost(true, r) + LengthCost(len));
    }
    if (deltaCandidatePos_ != pos) return;
    for (unsigned p = 0; p < kDeltaPowers; ++p) {
      const uint32_t cand = deltaCandidate_[p];
      if (cand == kNoPos) continue;
      const size_t span = size_t{1} << p, distance = pos - cand;
      if ((distance & (span - 1)) != 0 || distance + span > pos) continue;
      const uint32_t raw = static_cast<uint32_t>(distance >> p);
      const uint32_t len = DeltaLength(pos, span, distance, limit);
      if (len < 3) continue;
      bool isRep = false;
      for (unsigned r = 0; r < kNumReps; ++r) isRep |= q.delta[r] == (uint64_t{p} << 32 | raw);
      if (isRep) continue;
      const unsigned slot = SlotOf(kOffsetSlots, raw, model_.deltaOffset.num);
      const uint32_t cost = DeltaHeaderCost(false, 0) + (model_.power.lens[p] << kCostShift) +
                            ((model_.deltaOffset.lens[slot] + kOffsetSlots.extra[slot]) << kCostShift) +
                            LengthCost(len);
      consider(Item{len, ItemKind::kDeltaExplicit, 0, static_cast<uint8_t>(p), raw}, cost);
    }
  }

  void RefreshCosts() {
    if (!model_.codesChanged) return;
    model_.codesChanged = false;
    runPos_ = SIZE_MAX;
    for (unsigned b = 0; b < 256; ++b) literalCost_[b] = model_.literal.lens[b] << kCostShift;
    for (uint32_t len = 1; len < 256; ++len) {
      const unsigned slot = SlotOf(kLengthSlots, len);
      lengthCost_[len] = (model_.length.lens[slot] + kLengthSlots.extra[slot]) << kCostShift;
    }
  }

  uint32_t LengthCost(uint32_t len) const {
    if (len < 256) return lengthCost_[len];
    const unsigned slot = SlotOf(kLengthSlots, len);
    return (model_.length.lens[slot] + kLengthSlots.extra[slot]) << kCostShift;
  }

  // Cost of coding bytes [pos, pos + len) as literals; the running sums are
  // extended on demand, once per starting position.
  uint32_t LiteralRunCost(size_t pos, uint32_t len) {
    if (runPos_ != pos) {
      runPos_ = pos;
      runDone_ = 0;
    }
    if (runDone_ < len) {
      const DecisionModels& m = model_.m;
      const uint32_t lit0 = costs_.Of(m.main[m.mainState], 0);
      for (; runDone_ < len; ++runDone_)
        runCost_[runDone_ + 1] = runCost_[runDone_] + literalCost_[data_[pos + runDone_]] + lit0;
    }
    return runCost_[len];
  }

  uint32_t MatchHeaderCost(bool rep, unsigned repIndex) const {
    const DecisionModels& m = model_.m;
    uint32_t c = costs_.Of(m.main[m.mainState], 1) + costs_.Of(m.match[m.matchState], 0) +
                 costs_.Of(m.lz[m.lzState], rep);
    if (rep) {
      c += costs_.Of(m.lzRep[0][m.lzRepState[0]], repIndex > 0);
      if (repIndex > 0) c += costs_.Of(m.lzRep[1][m.lzRepState[1]], repIndex > 1);
    }
    return c;
  }

  // The most profitable match starting at pos, given the repeat queues.
  Candidate Best(size_t pos, const RepQueues& q) {
    Candidate best{Item{1, ItemKind::kLiteral, 0, 0, 0}, 0};
    const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(size_ - pos, kMaxLength));
    const uint8_t* cur = data_ + pos;
    auto consider = [&](const Item& item, uint32_t cost) {
      const int32_t gain =
          static_cast<int32_t>(LiteralRunCost(pos, item.length)) - static_cast<int32_t>(cost);
      if (gain > best.gain) best = Candidate{item, gain};
    };
    uint32_t repLens[kNumReps] = {};
    for (unsigned r = 0; r < kNumReps; ++r) {
      const uint32_t off = q.lz[r];
      if (off > pos) continue;
      const uint32_t len = MatchLength(cur, cur - off, limit);
      repLens[r] = len;
      if (len == 0) continue;
      consider(Item{len, ItemKind::kLzRep, static_cast<uint8_t>(r), 0, 0},
               MatchHeaderCost(true, r) + LengthCost(len));
    }
    if (limit >= 3) {
      Insert(pos);
      uint32_t bestLen = 2;
      uint32_t cand = chain_[pos];
      for (unsigned depth = 0; cand != kNoPos && depth < kChainDepth; ++depth, cand = chain_[cand]) {
        const uint8_t* m = data_ + cand;
        if (m[bestLen] != cur[bestLen]) continue;
        const uint32_t len = MatchLength(cur, m, limit);
        if (len <= bestLen) continue;
        bestLen = len;
        const uint32_t off = static_cast<uint32_t>(pos - cand);
        bool isRep = false;
        for (unsigned r = 0; r < kNumReps; ++r) isRep |= q.lz[r] == off;
        if (!isRep) {
          const unsigned slot = SlotOf(kOffsetSlots, off, model_.lzOffset.num);
          const uint32_t cost = MatchHeaderCost(false, 0) +
                                ((model_.lzOffset.lens[slot] + kOffsetSlots.extra[slot]) << kCostShift) +
                                LengthCost(len);
          consider(Item{len, ItemKind::kLzExplicit, 0, 0, off}, cost);
        }
        if (len >= kNiceLength || len == limit) break;
      }
    }
    if (limit >= 3) ConsiderDelta(pos, q, std::min<uint32_t>(limit, kNiceLength * 4), consider);
    return best;
  }

  const uint8_t* data_;
  size_t size_;
  size_t inserted_ = 0;
  EncoderModel model_;
  BitCosts costs_;
  std::vector<uint32_t> head_, chain_, deltaHead_;
  uint32_t deltaCandidate_[kDeltaPowers] = {};
  size_t deltaCandidatePos_ = SIZE_MAX;
  uint32_t literalCost_[256] = {};
  size_t runPos_ = SIZE_MAX;
  uint32_t runDone_ = 0;
  uint32_t runCost_[kMaxLength + 1] = {};
  uint32_t lengthCost_[256] = {};
};

}  // namespace
}  // namespace lzms

std::vector<uint8_t> LzmsCompress(const uint8_t* in, size_t inSize) {
  using namespace lzms;
  std::vector<uint8_t> data(in, in + inSize);
  {
    std::unique_ptr<int32_t[]> scratch(new int32_t[65536]);
    X86Filter(data.data(), data.size(), scratch.get(), false);
  }
  std::vector<uint16_t> front, back;
  front.reserve(inSize / 4 + 16);
  back.reserve(inSize / 4 + 16);
  {
    auto c = std::make_unique<Compressor>(data.data(), data.size());
    c->Run(&front, &back);
  }
  std::vector<uint8_t> out;
  out.reserve(2 * (front.size() + back.size()));
  for (uint16_t u : front)
    out.push_back(static_cast<uint8_t>(u)), out.push_back(static_cast<uint8_t>(u >> 8));
  for (size_t i = back.size(); i-- > 0;)
    out.push_back(static_cast<uint8_t>(back[i])), out.push_back(static_cast<uint8_t>(back[i] >> 8));
  return out;
}
