// LZMS encoder: x86 filter, match finding, then a near-optimal parse coded
// through EncoderModel (encode_model.h).
//
// The parse runs forward over windows of the input. Every position of a window
// keeps the cheapest known way to reach it (cost, and the item that got there)
// or, at the stronger level, its few cheapest ways that leave different repeat
// queues ("arrivals"); the state an item sees (repeat queues, decision
// states) is rebuilt from its predecessor when the position is expanded.
// Costs use the adaptive codes and probabilities as they stand when the
// window starts. A window ends where all paths meet (no item crosses the
// position), when it is full, or at a match so long that taking it outright
// is the obvious choice; its cheapest path is then coded, which updates the
// adaptive model for the next window.
#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/encode_match.h"
#include "codec/encode_model.h"
#include "codec/lzms.h"

namespace lzms {
namespace {

#define LZMS_ALWAYS_INLINE inline __attribute__((always_inline))

constexpr uint32_t kMaxLength = 1u << 16;  // far below the format's limit
// The largest nice length of any level, and how far the match finder looks at
// every level: a match taken at once is the longest it met up to this.
constexpr uint32_t kMaxNice = 128;
static_assert(kMaxNice <= kMaxMatches, "the match list holds every length below the nice one");
static_assert(kMaxNice <= 255, "a tail's length fits Item::tail");
constexpr uint32_t kInfinite = 0xFFFFFFFF;  // an unreached position

// What a level trades for size: tree nodes visited per position (and per
// position inside a long match, and for both where the trees are crowded),
// the match length taken at once, and the positions one parse window may span.
struct LevelParams {
  unsigned depth, skipDepth, crowdedDepth;
  uint32_t nice, window;
  bool tails;                       // try a match, a literal and a repeat of the match as one step
  bool twoByte;                     // offer matches of two bytes (the nearest, when near)
  unsigned deltaPowers, deltaBits;  // delta spans searched (1 to 2^(powers - 1)), heads per span
  bool deltaPerSpan;                // each delta span searched in full only where it was wanted lately
  unsigned arrivals;                // paths kept per position: 1 or kArrivals
};
// On 32 MiB of Windows DLLs, 3 paths per position gave 5,773,688 bytes in
// 32 s, 6 gave 0.5 % less in 51 s, 12 gave 0.9 % less in 91 s: the strong
// level is for release builds, where every byte is downloaded many times.
constexpr unsigned kArrivals = 12;

LevelParams ParamsOf(LzmsLevel level) {
  if (level == LzmsLevel::kMax)
    return LevelParams{128, 32, 128, kMaxNice, 4096, true, true, 6, 16, false, kArrivals};
  return LevelParams{12, 8, 24, 32, 2048, false, false, 4, 14, true, 1};
}

// Offset slot lookup for the parser, which needs one per match considered:
// cells keyed by the position of the top bit and the seven bits below it
// (below 128, the value itself) hold the slot of the cell's smallest value.
// No cell holds more than one slot boundary, so one comparison finishes.
class OffsetSlotFinder {
 public:
  static constexpr unsigned kBits = 7;

  OffsetSlotFinder() {
    for (unsigned k = 0; k < 32; ++k)
      for (unsigned t = 0; t < (1u << kBits); ++t) {
        if (k < kBits && t >= (1u << k)) continue;
        const uint64_t v = k < kBits ? (uint64_t{1} << k) + t : ((uint64_t{1} << kBits) | t) << (k - kBits);
        cell_[k][t] = static_cast<uint16_t>(v >= kOffsetSlots.base[kMaxOffsetSyms]
                                                ? kMaxOffsetSyms - 1
                                                : SlotOf(kOffsetSlots, static_cast<uint32_t>(v)));
      }
  }
  unsigned operator()(uint32_t v) const {
    const unsigned k = 31 - static_cast<unsigned>(__builtin_clz(v));
    const unsigned t = k < kBits ? v & ((1u << k) - 1) : (v >> (k - kBits)) & ((1u << kBits) - 1);
    const unsigned slot = cell_[k][t];
    return slot + (slot + 1 < kMaxOffsetSyms && kOffsetSlots.base[slot + 1] <= v);
  }

 private:
  uint16_t cell_[32][1u << kBits] = {};
};

// What an item sees: the repeat queues and the last decisions of each class.
struct ParseState {
  RepQueues q;
  uint8_t main = 0, match = 0, lz = 0, delta = 0, lzRep[2] = {}, deltaRep[2] = {};

  void Apply(const Item& item) {
    q.Apply(item);
    const bool isMatch = item.kind != ItemKind::kLiteral;
    main = static_cast<uint8_t>(((main << 1) | isMatch) & (kMainStates - 1));
    if (!isMatch) return;
    const bool isDelta = IsDelta(item);
    const bool isRep = item.kind == ItemKind::kLzRep || item.kind == ItemKind::kDeltaRep;
    match = static_cast<uint8_t>(((match << 1) | isDelta) & (kMatchStates - 1));
    uint8_t& kind = isDelta ? delta : lz;
    kind = static_cast<uint8_t>(((kind << 1) | isRep) & (kOtherStates - 1));
    if (!isRep) return;
    uint8_t* reps = isDelta ? deltaRep : lzRep;
    reps[0] = static_cast<uint8_t>(((reps[0] << 1) | (item.rep > 0)) & (kOtherStates - 1));
    if (item.rep > 0) reps[1] = static_cast<uint8_t>(((reps[1] << 1) | (item.rep > 1)) & (kOtherStates - 1));
  }
};

struct Node {
  uint32_t cost;
  Item item;  // the item ending here on the cheapest path, with its tail if any

  uint32_t Span() const { return item.length + (item.tail ? item.tail + 1u : 0u); }
};
// The parse writes a node for every length it offers: kept at 16 bytes.
static_assert(sizeof(Node) == 16);

class Compressor {
 public:
  Compressor(const uint8_t* data, size_t size, const LevelParams& params, EncoderMemory& memory)
      : data_(data),
        size_(size),
        nice_(params.nice),
        window_(params.window),
        tails_(params.tails),
        deltaPowers_(params.deltaPowers),
        deltaPerSpan_(params.deltaPerSpan),
        allSpans_((1u << params.deltaPowers) - 1),
        arrivals_(params.arrivals),
        firstLength_(params.twoByte ? 2 : 3),
        finder_(data, size, params.depth, params.skipDepth, params.crowdedDepth, params.twoByte,
                params.deltaPowers, params.deltaBits, memory) {}

  void Run(std::vector<uint16_t>* front, std::vector<uint16_t>* back) {
    model_.Init(size_, front, back);
    // A step reaches at most a match, a literal and a repeat past the window.
    const size_t nodes = window_ + 2 * nice_ + 3;
    nodes_.resize(nodes * arrivals_);
    if (arrivals_ > 1) {  // one arrival compares no queues and has one origin
      from_.resize(nodes * arrivals_);
      keys_.resize(nodes * arrivals_);
    }
    states_.resize((window_ + 1) * arrivals_);
    size_t pos = 0;
    while (pos < size_) pos = arrivals_ == 1 ? ParseWindow<1>(pos) : ParseWindow<kArrivals>(pos);
    model_.bw.Flush();
    model_.rc.Flush();
  }

 private:
  void RefreshCosts() {
    if (!model_.codesChanged) return;
    model_.codesChanged = false;
    for (unsigned b = 0; b < 256; ++b) literalCost_[b] = model_.literal.lens[b] << kCostShift;
    for (uint32_t len = 1; len <= nice_; ++len) lengthCost_[len] = SlowLengthCost(len);
    for (unsigned s = 0; s < model_.lzOffset.num; ++s) {
      lzOffsetCost_[s] = (model_.lzOffset.lens[s] + kOffsetSlots.extra[s]) << kCostShift;
      deltaOffsetCost_[s] = (model_.deltaOffset.lens[s] + kOffsetSlots.extra[s]) << kCostShift;
    }
    for (unsigned p = 0; p < kPowerSyms; ++p) powerCost_[p] = model_.power.lens[p] << kCostShift;
  }

  uint32_t SlowLengthCost(uint32_t len) const {
    const unsigned slot = SlotOf(kLengthSlots, len);
    return (model_.length.lens[slot] + kLengthSlots.extra[slot]) << kCostShift;
  }
  uint32_t LengthCost(uint32_t len) const { return len <= nice_ ? lengthCost_[len] : SlowLengthCost(len); }

  uint32_t Bit(const Prob& p, unsigned bit) const { return costs_.Of(p, bit); }

  // Cost of the decisions of a match (without offset and length) in state s.
  uint32_t LzHeader(const ParseState& s, bool rep, unsigned r) const {
    const DecisionModels& m = model_.m;
    uint32_t c = Bit(m.main[s.main], 1) + Bit(m.match[s.match], 0) + Bit(m.lz[s.lz], rep);
    if (rep) {
      c += Bit(m.lzRep[0][s.lzRep[0]], r > 0);
      if (r > 0) c += Bit(m.lzRep[1][s.lzRep[1]], r > 1);
    }
    return c;
  }
  uint32_t DeltaHeader(const ParseState& s, bool rep, unsigned r) const {
    const DecisionModels& m = model_.m;
    uint32_t c = Bit(m.main[s.main], 1) + Bit(m.match[s.match], 1) + Bit(m.delta[s.delta], rep);
    if (rep) {
      c += Bit(m.deltaRep[0][s.deltaRep[0]], r > 0);
      if (r > 0) c += Bit(m.deltaRep[1][s.deltaRep[1]], r > 1);
    }
    return c;
  }

  // Arrival k of position `to` is nodes_[to * K + k]. Positions past
  // cleared_ have no arrival yet and are emptied when first reached.
  template <unsigned K>
  LZMS_ALWAYS_INLINE void Reach(uint32_t to) {
    while (cleared_ < to) {
      ++cleared_;
      for (unsigned k = 0; k < K; ++k) nodes_[cleared_ * K + k].cost = kInfinite;
    }
    reach_ = std::max(reach_, to);
  }

  // Keeps the way to `to` (relative to the window start) at `cost` with
  // `item`, from arrival `from` of the item's start, if it is among the best
  // there (`to` must have been reached). With one arrival a position keeps
  // its cheapest path. With several it keeps the K cheapest whose repeat
  // queues differ (`key`): a path that loses here may win later through the
  // offsets it leaves behind, which a single arrival forgets.
  template <unsigned K>
  LZMS_ALWAYS_INLINE void Place(uint32_t to, uint32_t cost, const Item& item, unsigned from, uint64_t key) {
    Node* a = &nodes_[to * K];
    if constexpr (K == 1) {
      (void)from, (void)key;
      if (cost < a->cost) a->cost = cost, a->item = item;
    } else {
      if (cost >= a[K - 1].cost) return;  // no better than the worst kept, of any queue
      uint8_t* f = &from_[to * K];
      uint64_t* k = &keys_[to * K];
      unsigned j = 0;
      while (j < K && a[j].cost != kInfinite && k[j] != key) ++j;
      if (j == K || a[j].cost == kInfinite) j = K - 1;  // a new queue: in place of the worst
      if (cost >= a[j].cost) return;
      for (; j > 0 && cost < a[j - 1].cost; --j) a[j] = a[j - 1], f[j] = f[j - 1], k[j] = k[j - 1];
      a[j].cost = cost, a[j].item = item, f[j] = static_cast<uint8_t>(from), k[j] = key;
    }
  }

  // Reaches `to` and offers the way there.
  template <unsigned K>
  LZMS_ALWAYS_INLINE void Offer(uint32_t to, uint32_t cost, const Item& item, unsigned from, uint64_t key) {
    Reach<K>(to);
    Place<K>(to, cost, item, from, key);
  }

  // The repeat queues left by `item` in state s (0 with one arrival, which
  // does not compare them).
  template <unsigned K>
  static uint64_t KeyAfter(const ParseState& s, const Item& item) {
    if constexpr (K == 1) {
      (void)s, (void)item;
      return 0;
    } else {
      RepQueues q = s.q;
      q.Apply(item);
      return QueueKey(q);
    }
  }
  // A key of the repeat queues: those in place, and the offset pending. An
  // explicit match leaves its state's queues with the pending offset put in
  // place, and its own offset pending: the first part is worked out once per
  // state (Shifted), the second once per match.
  static uint64_t QueueKey(const RepQueues& q) {
    return PendingKey(Placed(q), q.lzPrev ? q.lzPrev : q.deltaPrev | uint64_t{1} << 63);
  }
  static uint64_t Placed(const RepQueues& q) {
    uint64_t h = 0;
    for (unsigned r = 0; r <= kNumReps; ++r) {
      h = (h ^ q.lz[r]) * 0x9E3779B97F4A7C15ull;
      h = (h ^ q.delta[r]) * 0xC2B2AE3D27D4EB4Full;
    }
    return h ^ (h >> 29);
  }
  static uint64_t Shifted(const RepQueues& q) {
    RepQueues shifted = q;
    shifted.Apply(Item{1, ItemKind::kLiteral, 0, 0, 0, 0});
    return Placed(shifted);
  }
  static uint64_t PendingKey(uint64_t placed, uint64_t pending) {
    return placed ^ ((pending + 1) * 0xD6E8FEB86659FD93ull);
  }

  // A match of its full length that a single literal parts from a repeat of
  // its own offset: offers the three items as one step (the match, the
  // literal, then the rep0 match that takes the offset up again). Each
  // position keeps only its cheapest paths, and the path through the match
  // and the literal often loses there, so the repeat behind it would never be
  // tried.
  template <unsigned K>
  LZMS_ALWAYS_INLINE void OfferTail(uint32_t at, uint32_t matchCost, const ParseState& s, const Item& item,
                                    const uint8_t* cur, uint32_t limit, unsigned from) {
    const uint32_t len = item.length, off = item.kind == ItemKind::kLzRep ? s.q.lz[item.rep] : item.offset;
    if (len + 3 > limit) return;
    const uint8_t* next = cur + len + 1;
    if (next[0] != next[-static_cast<ptrdiff_t>(off)] || next[1] != next[1 - static_cast<ptrdiff_t>(off)])
      return;
    const uint32_t tail = MatchLength(next, next - off, std::min(limit - len - 1, nice_));
    ParseState after = s;
    after.Apply(item);
    uint32_t cost = matchCost + Bit(model_.m.main[after.main], 0) + literalCost_[cur[len]];
    after.Apply(Item{1, ItemKind::kLiteral, 0, 0, 0, 0});
    cost += LzHeader(after, true, 0) + LengthCost(tail);
    Item withTail = item;
    withTail.tail = static_cast<uint8_t>(tail);
    after.q.Apply(Item{tail, ItemKind::kLzRep, 0, 0, 0, 0});
    Offer<K>(at + len + 1 + tail, cost, withTail, from, K == 1 ? 0 : QueueKey(after.q));
  }

  // Offers an item for every length in [from, to] (to <= nice_).
  // Every position offered to counts as reached, even where the offer loses:
  // a position only holds a cost once something reached it.
  template <unsigned K>
  LZMS_ALWAYS_INLINE void OfferLengths(uint32_t at, uint32_t base, uint32_t from, uint32_t to, Item item,
                                       unsigned arrival, uint64_t key) {
    if (from > to) return;
    Reach<K>(at + to);
    for (uint32_t len = from; len <= to; ++len) {
      item.length = len;
      Place<K>(at + len, base + lengthCost_[len], item, arrival, key);
    }
  }

  // OfferLengths for a delta match, skipping the lengths for which an
  // explicit LZ match from the same position was offered at no greater cost
  // (with the same length cost, the delta offer could only lose there).
  template <unsigned K>
  LZMS_ALWAYS_INLINE void OfferUncovered(uint32_t at, uint32_t base, uint32_t from, uint32_t to,
                                         const Item& item, unsigned arrival, uint64_t key) {
    // Below three bytes no explicit match covers a length (the stronger
    // level's two-byte matches are not counted: the delta offer is made).
    if (from < 3) {
      OfferLengths<K>(at, base, from, std::min(to, 2u), item, arrival, key);
      from = 3;
    }
    // The covered lengths run on from 3: match k covers those above match k - 1.
    for (unsigned k = 0; k < numCover_ && from <= to; ++k) {
      const Cover& c = cover_[k];
      if (c.length < from) continue;
      if (c.base > base) OfferLengths<K>(at, base, from, std::min(to, c.length), item, arrival, key);
      from = c.length + 1;
    }
    if (from <= to) OfferLengths<K>(at, base, from, to, item, arrival, key);
  }

  // The state before the items that end in arrival k of position i.
  template <unsigned K>
  LZMS_ALWAYS_INLINE void EnterState(uint32_t i, unsigned k) {
    const Node& via = nodes_[i * K + k];
    const unsigned from = K == 1 ? 0 : from_[i * K + k];
    ParseState& s = states_[i * K + k];
    s = states_[(i - via.Span()) * K + from];
    s.Apply(via.item);
    if (via.item.tail) {
      s.Apply(Item{1, ItemKind::kLiteral, 0, 0, 0, 0});
      s.Apply(Item{via.item.tail, ItemKind::kLzRep, 0, 0, 0, 0});
    }
  }

  // Delta matches of a span are wanted within kDeltaRecent bytes of the last
  // one coded, or of a candidate clearly longer than the position's LZ matches
  // (kDeltaClearly bytes or more, and more than a byte longer): elsewhere the
  // match finder only probes for them, and where no span is wanted their
  // repeats are not tried either. Code uses spans of 4 and 8 bytes now and
  // then, next to never 1 or 2 (which 8-bit and 16-bit mono samples use all
  // the time). At the stronger level a span wanted makes all of them wanted:
  // per span, its DLLs and the mixed archive came out 0.04 to 0.07 % larger.
  static constexpr size_t kDeltaRecent = 16384;
  static constexpr uint32_t kDeltaClearly = 6;

  // The spans (bit p: 2^p) that are not wanted at `pos`.
  unsigned UnwantedSpans(size_t pos) const {
    unsigned unwanted = 0;
    for (unsigned p = 0; p < deltaPowers_; ++p) unwanted |= (pos - lastDelta_[p] >= kDeltaRecent) << p;
    return deltaPerSpan_ || unwanted == allSpans_ ? unwanted : 0;
  }

  // Notes a delta match about to be coded at pos (before coding: a repeat's
  // span is read from the queues as they stand).
  void NoteDelta(const Item& item, size_t pos) {
    if (item.kind == ItemKind::kDeltaExplicit) lastDelta_[item.power] = pos;
    if (item.kind == ItemKind::kDeltaRep) lastDelta_[model_.q.delta[item.rep] >> 32] = pos;
  }

  // Parses one window starting at `start` and codes it; returns where it ends.
  template <unsigned K>
  __attribute__((noinline)) size_t ParseWindow(size_t start) {
    RefreshCosts();
    unsigned unwanted = UnwantedSpans(start);
    finder_.SetDeltaSparse(unwanted);
    const uint32_t avail = static_cast<uint32_t>(std::min<size_t>(size_ - start, window_));
    for (unsigned k = 0; k < K; ++k) nodes_[k].cost = kInfinite;
    nodes_[0].cost = 0;
    cleared_ = 0;  // nodes past this one are cleared when first reached
    reach_ = 0;
    ParseState& first = states_[0];
    first.q = model_.q;
    first.main = static_cast<uint8_t>(model_.m.mainState);
    first.match = static_cast<uint8_t>(model_.m.matchState);
    first.lz = static_cast<uint8_t>(model_.m.lzState);
    first.delta = static_cast<uint8_t>(model_.m.deltaState);
    for (unsigned k = 0; k < 2; ++k) {
      first.lzRep[k] = static_cast<uint8_t>(model_.m.lzRepState[k]);
      first.deltaRep[k] = static_cast<uint8_t>(model_.m.deltaRepState[k]);
    }

    uint32_t i = 0;
    Item longItem{0, ItemKind::kLiteral, 0, 0, 0, 0};
    const DecisionModels& m = model_.m;
    for (;;) {
      const size_t pos = start + i;
      const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(size_ - pos, kMaxLength));
      const uint8_t* cur = data_ + pos;

      unsigned found = 0;
      uint32_t longLen = 0;
      for (unsigned a = 0; a < K; ++a) {
        if (nodes_[i * K + a].cost == kInfinite) break;
        if (i > 0) EnterState<K>(i, a);
        const ParseState& s = states_[i * K + a];
        const uint32_t cost = nodes_[i * K + a].cost;
        // Only the cheapest arrival may end the window at a long match.
        const bool mayEnd = a == 0;

        // The queues an explicit match or a literal leaves, but for its offset.
        const uint64_t shifted = K == 1 ? 0 : Shifted(s.q);

        // Literal.
        Offer<K>(i + 1, cost + Bit(m.main[s.main], 0) + literalCost_[cur[0]],
                 Item{1, ItemKind::kLiteral, 0, 0, 0, 0}, a, PendingKey(shifted, uint64_t{1} << 63));

        // Repeat LZ matches.
        for (unsigned r = 0; r < kNumReps && limit >= 2; ++r) {
          const uint32_t off = s.q.lz[r];
          if (off > pos || cur[0] != cur[-static_cast<ptrdiff_t>(off)] ||
              cur[1] != cur[1 - static_cast<ptrdiff_t>(off)])
            continue;
          const uint32_t len = MatchLength(cur, cur - off, limit);
          const Item item{len, ItemKind::kLzRep, static_cast<uint8_t>(r), 0, 0, 0};
          if (len >= nice_) {
            if (mayEnd && len > longLen) longLen = len, longItem = item;
            continue;
          }
          const uint32_t base = cost + LzHeader(s, true, r);
          OfferLengths<K>(i, base, 2, len, item, a, KeyAfter<K>(s, item));
          if (tails_) OfferTail<K>(i, base + lengthCost_[len], s, item, cur, limit, a);
        }

        if (a == 0) {
          // The matches and delta candidates of this position, whatever the path.
          found = finder_.Find(pos, limit, kMaxNice, matches_);

          // What does not depend on the path: each match's offset cost, and the
          // explicit delta matches (span, raw offset, length and cost).
          for (unsigned k = 0; k < found && matches_[k].length < nice_; ++k)
            offsetCost_[k] = lzOffsetCost_[slotOf_(matches_[k].offset)];
          numDelta_ = 0;
          if (limit >= 3) {
            for (unsigned p = 0; p < deltaPowers_; ++p) {
              const uint32_t cand = finder_.DeltaCandidate(p);
              if (cand == kNoPos) continue;
              const size_t span = size_t{1} << p, distance = pos - cand;
              if ((distance & (span - 1)) != 0 || distance + span > pos) continue;
              const uint32_t raw = static_cast<uint32_t>(distance >> p);
              const uint32_t len = finder_.DeltaLength(pos, span, distance, std::min(limit, nice_));
              if (len < 3) continue;
              if ((unwanted >> p & 1) && len >= kDeltaClearly &&
                  (found == 0 || len > matches_[found - 1].length + 1)) {
                lastDelta_[p] = pos;
                unwanted = UnwantedSpans(pos);
                finder_.SetDeltaSparse(unwanted);
              }
              deltas_[numDelta_++] = DeltaFound{len, raw, powerCost_[p] + deltaOffsetCost_[slotOf_(raw)], p};
            }
          }
        }

        // Explicit LZ matches, each length from the shortest offset that reaches it.
        uint32_t prevLen = firstLength_ - 1;
        const uint32_t explicitBase = cost + LzHeader(s, false, 0);
        numCover_ = 0;
        for (unsigned k = 0; k < found; ++k) {
          const uint32_t len = matches_[k].length, off = matches_[k].offset;
          if (len >= nice_) {
            // Taken at once: the longest the finder met, which searched on
            // for one (the nearest of nice length is often cut short soon).
            const Match& longest = matches_[found - 1];
            if (mayEnd && longest.length > longLen + 2) {
              longLen = longest.length;
              longItem = Item{longest.length, ItemKind::kLzExplicit, 0, 0, 0, longest.offset};
            }
            break;
          }
          const Item item{len, ItemKind::kLzExplicit, 0, 0, 0, off};
          const uint32_t base = explicitBase + offsetCost_[k];
          OfferLengths<K>(i, base, prevLen + 1, len, item, a, PendingKey(shifted, off));
          if (tails_) OfferTail<K>(i, base + lengthCost_[len], s, item, cur, limit, a);
          cover_[numCover_++] = Cover{len, base};
          prevLen = len;
        }

        // Delta matches.
        if (limit >= 3) {
          for (unsigned r = 0; r < kNumReps && unwanted != allSpans_; ++r) {
            const unsigned p = static_cast<unsigned>(s.q.delta[r] >> 32);
            const size_t span = size_t{1} << p, distance = static_cast<size_t>(s.q.delta[r] & 0xFFFFFFFF)
                                                           << p;
            if (distance + span > pos) continue;
            const uint32_t len = finder_.DeltaLength(pos, span, distance, std::min(limit, nice_));
            if (len < 2) continue;
            const Item item{len, ItemKind::kDeltaRep, static_cast<uint8_t>(r), 0, 0, 0};
            if (len >= nice_) {
              if (mayEnd && len > longLen) longLen = len, longItem = item;
              continue;
            }
            OfferUncovered<K>(i, cost + DeltaHeader(s, true, r), 2, len, item, a, KeyAfter<K>(s, item));
          }
          const uint32_t deltaBase = cost + DeltaHeader(s, false, 0);
          for (unsigned k = 0; k < numDelta_; ++k) {
            const DeltaFound& d = deltas_[k];
            const Item item{d.length, ItemKind::kDeltaExplicit, 0, static_cast<uint8_t>(d.power), 0, d.raw};
            if (d.length >= nice_) {
              if (mayEnd && d.length > longLen + 2) longLen = d.length, longItem = item;
              continue;
            }
            OfferUncovered<K>(i, deltaBase + d.cost, 3, d.length, item, a,
                              PendingKey(shifted, (uint64_t{d.power} << 32 | d.raw) | uint64_t{1} << 63));
          }
        }
        if (longLen) break;
      }

      if (longLen) break;  // take the long match from here (after arrival 0)
      ++i;
      if (i >= avail || i >= reach_) break;
    }

    // Code the cheapest path to position i (its first arrival), then the long
    // match if any.
    path_.clear();
    unsigned arrival = 0;
    for (uint32_t at = i; at > 0;) {
      const Node& n = nodes_[at * K + arrival];
      if (n.item.tail) {
        path_.push_back(Item{n.item.tail, ItemKind::kLzRep, 0, 0, 0, 0});
        path_.push_back(Item{1, ItemKind::kLiteral, 0, 0, 0, 0});
      }
      path_.push_back(n.item);
      if constexpr (K > 1) arrival = from_[at * K + arrival];
      at -= n.Span();
    }
    size_t pos = start;
    for (size_t k = path_.size(); k-- > 0;) {
      NoteDelta(path_[k], pos);
      model_.Encode(path_[k], data_[pos]);
      pos += path_[k].length;
    }
    if (longItem.length) {
      // Explicit and delta lengths were capped at the nice length: extend now.
      if (longItem.kind == ItemKind::kLzExplicit)
        longItem.length = MatchLength(data_ + pos, data_ + pos - longItem.offset,
                                      static_cast<uint32_t>(std::min<size_t>(size_ - pos, kMaxLength)));
      if (longItem.kind == ItemKind::kDeltaRep || longItem.kind == ItemKind::kDeltaExplicit) {
        uint64_t pair = longItem.kind == ItemKind::kDeltaRep
                            ? model_.q.delta[longItem.rep]
                            : (uint64_t{longItem.power} << 32 | longItem.offset);
        const unsigned p = static_cast<unsigned>(pair >> 32);
        const size_t span = size_t{1} << p, distance = static_cast<size_t>(pair & 0xFFFFFFFF) << p;
        longItem.length = finder_.DeltaLength(
            pos, span, distance, static_cast<uint32_t>(std::min<size_t>(size_ - pos, kMaxLength)));
      }
      NoteDelta(longItem, pos);
      model_.Encode(longItem, 0);
      finder_.Skip(pos + 1, pos + longItem.length, kMaxNice);
      pos += longItem.length;
    }
    return pos;
  }

  const uint8_t* data_;
  size_t size_;
  const uint32_t nice_;    // a match this long is taken at once
  const uint32_t window_;  // positions per parse window
  const bool tails_;
  const unsigned deltaPowers_;
  const bool deltaPerSpan_;
  const unsigned allSpans_;  // a bit per delta span searched
  const unsigned arrivals_;
  const uint32_t firstLength_;  // of explicit matches
  MatchFinder finder_;
  OffsetSlotFinder slotOf_;
  EncoderModel model_;
  BitCosts costs_;
  std::vector<Node> nodes_;
  std::vector<uint8_t> from_;   // arrival of the item's start, per node
  std::vector<uint64_t> keys_;  // the repeat queues left, per node
  std::vector<ParseState> states_;
  std::vector<Item> path_;
  uint32_t reach_ = 0, cleared_ = 0;
  size_t lastDelta_[kMaxDeltaPowers] = {};  // per span, see kDeltaRecent; the start counts as recent
  Match matches_[kMaxMatches];
  struct Cover {
    uint32_t length, base;  // explicit LZ offers of lengths up to `length` cost base + length cost
  };
  Cover cover_[kMaxMatches];
  uint32_t offsetCost_[kMaxMatches];  // of each match at the position being parsed
  struct DeltaFound {
    uint32_t length, raw, cost;  // cost: span and offset
    unsigned power;
  };
  DeltaFound deltas_[kMaxDeltaPowers];
  unsigned numDelta_ = 0;
  unsigned numCover_ = 0;
  uint32_t literalCost_[256] = {};
  uint32_t lengthCost_[kMaxNice + 1] = {};
  uint32_t lzOffsetCost_[kMaxOffsetSyms] = {}, deltaOffsetCost_[kMaxOffsetSyms] = {};
  uint32_t powerCost_[kPowerSyms] = {};
};

}  // namespace
}  // namespace lzms

std::vector<uint8_t> LzmsCompress(const uint8_t* in, size_t inSize, LzmsLevel level) {
  using namespace lzms;
  EncoderMemory& memory = EncoderMemory::ForThisThread();
  uint8_t* const data = memory.data.Reserve(inSize);  // filtered copy, read at random by the match finder
  if (inSize) std::memcpy(data, in, inSize);
  {
    std::unique_ptr<int32_t[]> scratch(new int32_t[65536]);
    X86Filter(data, inSize, scratch.get(), false);
  }
  std::vector<uint16_t> front, back;
  front.reserve(inSize / 4 + 16);
  back.reserve(inSize / 4 + 16);
  {
    auto c = std::make_unique<Compressor>(data, inSize, ParamsOf(level), memory);
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
