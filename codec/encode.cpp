// LZMS encoder: x86 filter, match finding, then a near-optimal parse coded
// through EncoderModel (encode_model.h).
//
// The parse runs forward over windows of the input. Every position of a window
// keeps the cheapest known way to reach it (cost, and the item that got there);
// the state an item sees (repeat queues, decision states) is rebuilt from its
// predecessor when the position is expanded. Costs use the adaptive codes and
// probabilities as they stand when the window starts. A window ends where all
// paths meet (no item crosses the position), when it is full, or at a match so
// long that taking it outright is the obvious choice; its cheapest path is then
// coded, which updates the adaptive model for the next window.
#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/encode_match.h"
#include "codec/encode_model.h"
#include "codec/lzms.h"

namespace lzms {
namespace {

constexpr uint32_t kMaxLength = 1u << 16;  // far below the format's limit
constexpr uint32_t kMaxNice = 128;         // the largest nice length of any level
static_assert(kMaxNice <= kMaxMatches, "the match list holds every length below the nice one");
static_assert(kMaxNice <= 255, "a tail's length fits Item::tail");
constexpr uint32_t kInfinite = 0xFFFFFFFF;  // an unreached position

// What a level trades for size: tree nodes visited per position (and per
// position inside a long match), the match length taken at once, and the
// positions one parse window may span.
struct LevelParams {
  unsigned depth, skipDepth;
  uint32_t nice, window;
  bool tails;                       // try a match, a literal and a repeat of the match as one step
  bool reparse;                     // code a full window up to its middle, then parse on from there
  unsigned deltaPowers, deltaBits;  // delta spans searched (1 to 2^(powers - 1)), heads per span
};

LevelParams ParamsOf(LzmsLevel level) {
  if (level == LzmsLevel::kMax) return LevelParams{128, 32, kMaxNice, 2048, true, true, 6, 16};
  return LevelParams{12, 8, 32, 2048, false, false, 4, 14};
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
    const bool isDelta = item.kind == ItemKind::kDeltaExplicit || item.kind == ItemKind::kDeltaRep;
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
        reparse_(params.reparse),
        deltaPowers_(params.deltaPowers),
        finder_(data, size, params.depth, params.skipDepth, params.deltaPowers, params.deltaBits, memory) {}

  void Run(std::vector<uint16_t>* front, std::vector<uint16_t>* back) {
    model_.Init(size_, front, back);
    // A step reaches at most a match, a literal and a repeat past the window.
    nodes_.resize(window_ + 2 * nice_ + 3);
    size_t pos = 0;
    while (pos < size_) pos = ParseWindow(pos);
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

  // Offers reaching `to` (relative to the window start) at `cost` with `item`.
  void Offer(uint32_t to, uint32_t cost, const Item& item) {
    while (cleared_ < to) nodes_[++cleared_].cost = kInfinite;
    Node& n = nodes_[to];
    if (cost < n.cost) {
      n.cost = cost;
      n.item = item;
      reach_ = std::max(reach_, to);
    }
  }

  // A match of its full length that a single literal parts from a repeat of
  // its own offset: offers the three items as one step (the match, the
  // literal, then the rep0 match that takes the offset up again). Each
  // position keeps only its cheapest path, and the path through the match
  // and the literal often loses there, so the repeat behind it would never be
  // tried.
  void OfferTail(uint32_t at, uint32_t matchCost, const ParseState& s, const Item& item, const uint8_t* cur,
                 uint32_t limit) {
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
    Offer(at + len + 1 + tail, cost, withTail);
  }

  // Offers an item for every length in [from, to] (to <= nice_).
  // Every position offered to counts as reached, even where the offer loses:
  // a position only holds a cost once something reached it.
  void OfferLengths(uint32_t at, uint32_t base, uint32_t from, uint32_t to, Item item) {
    if (from > to) return;
    while (cleared_ < at + to) nodes_[++cleared_].cost = kInfinite;
    reach_ = std::max(reach_, at + to);
    for (uint32_t len = from; len <= to; ++len) {
      Node& n = nodes_[at + len];
      const uint32_t cost = base + lengthCost_[len];
      if (cost < n.cost) {
        item.length = len;
        n.cost = cost;
        n.item = item;
      }
    }
  }

  // OfferLengths for a delta match, skipping the lengths for which an
  // explicit LZ match from the same position was offered at no greater cost
  // (with the same length cost, the delta offer could only lose there).
  void OfferUncovered(uint32_t at, uint32_t base, uint32_t from, uint32_t to, const Item& item) {
    if (from < 3) {  // below every LZ match
      OfferLengths(at, base, from, std::min(to, 2u), item);
      from = 3;
    }
    // The covered lengths run on from 3: match k covers those above match k - 1.
    for (unsigned k = 0; k < numCover_ && from <= to; ++k) {
      const Cover& c = cover_[k];
      if (c.length < from) continue;
      if (c.base > base) OfferLengths(at, base, from, std::min(to, c.length), item);
      from = c.length + 1;
    }
    if (from <= to) OfferLengths(at, base, from, to, item);
  }

  // Parses one window starting at `start` and codes it; returns where it ends.
  size_t ParseWindow(size_t start) {
    RefreshCosts();
    if (reparse_) DropSearchedBefore(start);
    const uint32_t avail = static_cast<uint32_t>(std::min<size_t>(size_ - start, window_));
    nodes_[0].cost = 0;
    cleared_ = 0;  // nodes past this one are cleared when first reached
    reach_ = 0;
    states_.resize(window_ + 1);
    states_[0].q = model_.q;
    states_[0].main = static_cast<uint8_t>(model_.m.mainState);
    states_[0].match = static_cast<uint8_t>(model_.m.matchState);
    states_[0].lz = static_cast<uint8_t>(model_.m.lzState);
    states_[0].delta = static_cast<uint8_t>(model_.m.deltaState);
    for (unsigned k = 0; k < 2; ++k) {
      states_[0].lzRep[k] = static_cast<uint8_t>(model_.m.lzRepState[k]);
      states_[0].deltaRep[k] = static_cast<uint8_t>(model_.m.deltaRepState[k]);
    }

    uint32_t i = 0;
    Item longItem{0, ItemKind::kLiteral, 0, 0, 0, 0};
    for (;;) {
      const size_t pos = start + i;
      if (i > 0) {
        const Node& via = nodes_[i];
        states_[i] = states_[i - via.Span()];
        states_[i].Apply(via.item);
        if (via.item.tail) {
          states_[i].Apply(Item{1, ItemKind::kLiteral, 0, 0, 0, 0});
          states_[i].Apply(Item{via.item.tail, ItemKind::kLzRep, 0, 0, 0, 0});
        }
      }
      const ParseState& s = states_[i];
      const uint32_t cost = nodes_[i].cost;
      const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(size_ - pos, kMaxLength));
      const uint8_t* cur = data_ + pos;
      const DecisionModels& m = model_.m;

      // Literal.
      Offer(i + 1, cost + Bit(m.main[s.main], 0) + literalCost_[cur[0]],
            Item{1, ItemKind::kLiteral, 0, 0, 0, 0});

      // Repeat LZ matches.
      uint32_t longLen = 0;
      for (unsigned r = 0; r < kNumReps && limit >= 2; ++r) {
        const uint32_t off = s.q.lz[r];
        if (off > pos || cur[0] != cur[-static_cast<ptrdiff_t>(off)] ||
            cur[1] != cur[1 - static_cast<ptrdiff_t>(off)])
          continue;
        const uint32_t len = MatchLength(cur, cur - off, limit);
        const Item item{len, ItemKind::kLzRep, static_cast<uint8_t>(r), 0, 0, 0};
        if (len >= nice_) {
          if (len > longLen) longLen = len, longItem = item;
          continue;
        }
        OfferLengths(i, cost + LzHeader(s, true, r), 2, len, item);
        if (tails_) OfferTail(i, cost + LzHeader(s, true, r) + lengthCost_[len], s, item, cur, limit);
      }

      // Explicit LZ matches, each length from the shortest offset that reaches it.
      const Match* matches = matches_;
      const uint32_t* deltaCandidates = nullptr;
      unsigned found;
      if (reparse_) {
        const Searched& e = SearchedAt(pos, limit);
        matches = searchedMatches_.data() + e.first;
        found = e.count;
        deltaCandidates = e.delta;
      } else {
        found = finder_.Find(pos, limit, nice_, matches_);
      }
      uint32_t prevLen = 2;
      const uint32_t explicitBase = cost + LzHeader(s, false, 0);
      numCover_ = 0;
      for (unsigned k = 0; k < found; ++k) {
        const uint32_t len = matches[k].length, off = matches[k].offset;
        const Item item{len, ItemKind::kLzExplicit, 0, 0, 0, off};
        if (len >= nice_) {
          if (len > longLen + 2) longLen = len, longItem = item;
          break;
        }
        const unsigned slot = slotOf_(off);
        const uint32_t base = explicitBase + lzOffsetCost_[slot];
        OfferLengths(i, base, prevLen + 1, len, item);
        if (tails_) OfferTail(i, base + lengthCost_[len], s, item, cur, limit);
        cover_[numCover_++] = Cover{len, base};
        prevLen = len;
      }

      // Delta matches.
      if (limit >= 3) {
        for (unsigned r = 0; r < kNumReps; ++r) {
          const unsigned p = static_cast<unsigned>(s.q.delta[r] >> 32);
          const size_t span = size_t{1} << p, distance = static_cast<size_t>(s.q.delta[r] & 0xFFFFFFFF) << p;
          if (distance + span > pos) continue;
          const uint32_t len = finder_.DeltaLength(pos, span, distance, std::min(limit, nice_));
          if (len < 2) continue;
          const Item item{len, ItemKind::kDeltaRep, static_cast<uint8_t>(r), 0, 0, 0};
          if (len >= nice_) {
            if (len > longLen) longLen = len, longItem = item;
            continue;
          }
          OfferUncovered(i, cost + DeltaHeader(s, true, r), 2, len, item);
        }
        const uint32_t deltaBase = cost + DeltaHeader(s, false, 0);
        for (unsigned p = 0; p < deltaPowers_; ++p) {
          const uint32_t cand = deltaCandidates ? deltaCandidates[p] : finder_.DeltaCandidate(p);
          if (cand == kNoPos) continue;
          const size_t span = size_t{1} << p, distance = pos - cand;
          if ((distance & (span - 1)) != 0 || distance + span > pos) continue;
          const uint32_t raw = static_cast<uint32_t>(distance >> p);
          const uint32_t len = finder_.DeltaLength(pos, span, distance, std::min(limit, nice_));
          if (len < 3) continue;
          const Item item{len, ItemKind::kDeltaExplicit, 0, static_cast<uint8_t>(p), 0, raw};
          if (len >= nice_) {
            if (len > longLen + 2) longLen = len, longItem = item;
            continue;
          }
          const unsigned slot = slotOf_(raw);
          OfferUncovered(i, deltaBase + powerCost_[p] + deltaOffsetCost_[slot], 3, len, item);
        }
      }

      if (longLen) break;  // take the long match from here
      ++i;
      if (i >= avail || i >= reach_) break;
    }

    // Code the cheapest path to position i, then the long match if any. A
    // full window is coded only up to about its middle where it may be
    // parsed again: the rest is parsed anew with costs from the model as it
    // then stands.
    const bool partial = reparse_ && !longItem.length && i >= window_ && i < reach_;
    path_.clear();
    for (uint32_t at = i; at > 0; at -= nodes_[at].Span()) {
      const Node& n = nodes_[at];
      if (n.item.tail) {
        path_.push_back(Item{n.item.tail, ItemKind::kLzRep, 0, 0, 0, 0});
        path_.push_back(Item{1, ItemKind::kLiteral, 0, 0, 0, 0});
      }
      path_.push_back(n.item);
    }
    size_t pos = start;
    for (size_t k = path_.size(); k-- > 0;) {
      if (partial && pos - start >= window_ / 2) break;
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
      model_.Encode(longItem, 0);
      finder_.Skip(pos + 1, pos + longItem.length, nice_);
      pos += longItem.length;
    }
    return pos;
  }

  // The stronger level parses a window again from its middle, and the match
  // finder only moves forward: the matches of positions searched but not yet
  // coded are kept, from searchedBase_ on.
  struct Searched {
    uint32_t first, count;            // in searchedMatches_
    uint32_t delta[kMaxDeltaPowers];  // the delta candidates
  };
  // The matches of pos, searched now if it is the next position the finder
  // has not seen (windows start where the last one's coding stopped, so the
  // positions kept run on without a gap up to that one).
  const Searched& SearchedAt(size_t pos, uint32_t limit) {
    const size_t at = pos - searchedBase_;
    if (at == searched_.size()) {
      Searched e{};
      e.first = static_cast<uint32_t>(searchedMatches_.size());
      e.count = finder_.Find(pos, limit, nice_, matches_);
      searchedMatches_.insert(searchedMatches_.end(), matches_, matches_ + e.count);
      for (unsigned p = 0; p < deltaPowers_; ++p) e.delta[p] = finder_.DeltaCandidate(p);
      searched_.push_back(e);
    }
    return searched_[at];
  }
  // Forgets the positions before start (already coded).
  void DropSearchedBefore(size_t start) {
    if (start <= searchedBase_) return;
    const size_t drop = start - searchedBase_;
    if (drop >= searched_.size()) {
      searched_.clear();
      searchedMatches_.clear();
    } else {
      const uint32_t firstKept = searched_[drop].first;
      searchedMatches_.erase(searchedMatches_.begin(), searchedMatches_.begin() + firstKept);
      searched_.erase(searched_.begin(), searched_.begin() + static_cast<ptrdiff_t>(drop));
      for (Searched& e : searched_) e.first -= firstKept;
    }
    searchedBase_ = start;
  }
  std::vector<Searched> searched_;
  std::vector<Match> searchedMatches_;
  size_t searchedBase_ = 0;

  const uint8_t* data_;
  size_t size_;
  const uint32_t nice_;    // a match this long is taken at once
  const uint32_t window_;  // positions per parse window
  const bool tails_, reparse_;
  const unsigned deltaPowers_;
  MatchFinder finder_;
  OffsetSlotFinder slotOf_;
  EncoderModel model_;
  BitCosts costs_;
  std::vector<Node> nodes_;
  std::vector<ParseState> states_;
  std::vector<Item> path_;
  uint32_t reach_ = 0, cleared_ = 0;
  Match matches_[kMaxMatches];
  struct Cover {
    uint32_t length, base;  // explicit LZ offers of lengths up to `length` cost base + length cost
  };
  Cover cover_[kMaxMatches];
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
