// The encoder's half of the format: range encoder, backward bit writer,
// adaptive codes, and the coding of one item with the repeat queues.
#pragma once

#include <cmath>
#include <vector>

#include "codec/format.h"

namespace lzms {

// Range encoder: the decoder's mirror, with LZMA-style carry propagation over
// 16-bit units. The first unit it produces is a placeholder and is dropped.
struct RangeEncoder {
  uint64_t low = 0;
  uint32_t range = 0xFFFFFFFF;
  uint16_t cache = 0;
  uint64_t cacheSize = 1;
  bool first = true;
  std::vector<uint16_t>* out = nullptr;

  void ShiftLow() {
    if (static_cast<uint32_t>(low) < 0xFFFF0000u || (low >> 32) != 0) {
      const uint16_t carry = static_cast<uint16_t>(low >> 32);
      uint16_t unit = cache;
      do {
        if (!first) out->push_back(static_cast<uint16_t>(unit + carry));
        first = false;
        unit = 0xFFFF;
      } while (--cacheSize != 0);
      cache = static_cast<uint16_t>(low >> 16);
    }
    ++cacheSize;
    low = (low & 0xFFFF) << 16;
  }
  void Bit(unsigned bit, Prob& prob, uint32_t& state, uint32_t stateMask) {
    if (range <= 0xFFFF) {
      range <<= 16;
      ShiftLow();
    }
    const uint32_t bound = (range >> kProbBits) * prob.Get();
    if (bit == 0) {
      range = bound;
    } else {
      low += bound;
      range -= bound;
    }
    prob.Update(bit);
    state = ((state << 1) | bit) & stateMask;
  }
  void Flush() {
    for (int i = 0; i < 4; ++i) ShiftLow();
  }
};

// Bits for the backward stream, in the order the decoder reads them; the
// finished units are stored reversed at the end of the output.
struct BitWriter {
  uint64_t buf = 0;
  unsigned count = 0;
  std::vector<uint16_t>* out = nullptr;

  void Write(uint32_t bits, unsigned n) {  // n <= 32
    buf = (buf << n) | bits;
    count += n;
    while (count >= 16) {
      count -= 16;
      out->push_back(static_cast<uint16_t>(buf >> count));
    }
  }
  void Flush() {
    if (count) out->push_back(static_cast<uint16_t>(buf << (16 - count)));
    count = 0;
  }
};

struct AdaptiveEncodeCode {
  unsigned num = 0, rebuildEvery = 0, untilRebuild = 0;
  uint32_t freqs[kMaxOffsetSyms];
  uint32_t codewords[kMaxOffsetSyms];
  uint8_t lens[kMaxOffsetSyms];

  void Init(unsigned numSyms, unsigned every) {
    num = numSyms;
    rebuildEvery = every;
    for (unsigned s = 0; s < num; ++s) freqs[s] = 1;
    Rebuild();
  }
  void Rebuild() {
    BuildHuffmanLengths(freqs, num, lens);
    BuildCodewords(lens, num, codewords);
    for (unsigned s = 0; s < num; ++s) freqs[s] = (freqs[s] >> 1) + 1;
    untilRebuild = rebuildEvery;
  }
  // True when the code was rebuilt (so cached costs are stale).
  bool Encode(unsigned sym, BitWriter& w) {
    w.Write(codewords[sym], lens[sym]);
    freqs[sym]++;
    if (--untilRebuild == 0) {
      Rebuild();
      return true;
    }
    return false;
  }
};

// Item kinds the parser chooses between.
enum class ItemKind : uint8_t { kLiteral, kLzExplicit, kLzRep, kDeltaExplicit, kDeltaRep };

struct Item {
  uint32_t length;  // 1 for a literal
  ItemKind kind;
  uint8_t rep;      // queue index of a repeat
  uint8_t power;    // delta span 2^power of an explicit delta match
  uint8_t tail;     // for the parser: a literal and a rep0 match of this length follow (0: none)
  uint32_t offset;  // LZ offset or delta raw offset, explicit matches
};

inline bool IsDelta(const Item& item) {
  return item.kind == ItemKind::kDeltaExplicit || item.kind == ItemKind::kDeltaRep;
}

// Repeat queues as seen by the encoder: an offset becomes usable after the item
// that follows its own (the `prev` slot), matching the decoder's pending entry.
struct RepQueues {
  uint32_t lz[kNumReps + 1] = {1, 2, 3, 4};
  uint32_t lzPrev = 0;
  uint64_t delta[kNumReps + 1] = {1, 2, 3, 4};
  uint64_t deltaPrev = 0;

  void Apply(const Item& item) {
    uint32_t lzNext = 0;
    uint64_t deltaNext = 0;
    switch (item.kind) {
      case ItemKind::kLiteral:
        break;
      case ItemKind::kLzExplicit:
        lzNext = item.offset;
        break;
      case ItemKind::kLzRep:
        lzNext = lz[item.rep];
        for (unsigned i = item.rep; i < kNumReps; ++i) lz[i] = lz[i + 1];
        break;
      case ItemKind::kDeltaExplicit:
        deltaNext = static_cast<uint64_t>(item.power) << 32 | item.offset;
        break;
      case ItemKind::kDeltaRep:
        deltaNext = delta[item.rep];
        for (unsigned i = item.rep; i < kNumReps; ++i) delta[i] = delta[i + 1];
        break;
    }
    if (lzPrev) {
      for (unsigned i = kNumReps; i > 0; --i) lz[i] = lz[i - 1];
      lz[0] = lzPrev;
    }
    lzPrev = lzNext;
    if (deltaPrev) {
      for (unsigned i = kNumReps; i > 0; --i) delta[i] = delta[i - 1];
      delta[0] = deltaPrev;
    }
    deltaPrev = deltaNext;
  }
};

// Costs are in 1/16 bit.
constexpr uint32_t kCostShift = 4;

struct BitCosts {
  uint32_t zero[kProbDenominator + 1], one[kProbDenominator + 1];
  BitCosts() {
    for (unsigned n = 0; n <= kProbDenominator; ++n) {
      const double p = (n == 0                  ? 1
                        : n == kProbDenominator ? kProbDenominator - 1
                                                : n) /
                       double(kProbDenominator);
      zero[n] = static_cast<uint32_t>(std::lround(-std::log2(p) * (1 << kCostShift)));
      one[n] = static_cast<uint32_t>(std::lround(-std::log2(1 - p) * (1 << kCostShift)));
    }
  }
  uint32_t Of(const Prob& p, unsigned bit) const { return bit ? one[p.zeros] : zero[p.zeros]; }
};

// Everything adaptive on the encoder's side, and the coding of items.
struct EncoderModel {
  DecisionModels m;
  RepQueues q;
  AdaptiveEncodeCode literal, lzOffset, length, deltaOffset, power;
  RangeEncoder rc;
  BitWriter bw;
  bool codesChanged = true;

  void Init(size_t size, std::vector<uint16_t>* front, std::vector<uint16_t>* back) {
    rc.out = front;
    bw.out = back;
    const unsigned slots = NumOffsetSlots(size);
    literal.Init(kLiteralSyms, kLiteralRebuild);
    lzOffset.Init(slots, kOffsetRebuild);
    length.Init(kLengthSyms, kLengthRebuild);
    deltaOffset.Init(slots, kOffsetRebuild);
    power.Init(kPowerSyms, kPowerRebuild);
  }

  void EncodeOffset(AdaptiveEncodeCode& code, uint32_t value) {
    const unsigned slot = SlotOf(kOffsetSlots, value, code.num);
    codesChanged |= code.Encode(slot, bw);
    bw.Write(value - kOffsetSlots.base[slot], kOffsetSlots.extra[slot]);
  }
  void EncodeLength(uint32_t len) {
    const unsigned slot = SlotOf(kLengthSlots, len);
    codesChanged |= length.Encode(slot, bw);
    bw.Write(len - kLengthSlots.base[slot], kLengthSlots.extra[slot]);
  }
  void EncodeRepIndex(unsigned rep, Prob (*probs)[kOtherStates], uint32_t* states) {
    for (unsigned i = 0; i < 2; ++i) {
      const unsigned bit = rep > i;
      rc.Bit(bit, probs[i][states[i]], states[i], kOtherStates - 1);
      if (!bit) break;
    }
  }

  void Encode(const Item& item, uint8_t literalByte) {
    if (item.kind == ItemKind::kLiteral) {
      rc.Bit(0, m.main[m.mainState], m.mainState, kMainStates - 1);
      codesChanged |= literal.Encode(literalByte, bw);
      q.Apply(item);
      return;
    }
    rc.Bit(1, m.main[m.mainState], m.mainState, kMainStates - 1);
    const bool isDelta = IsDelta(item);
    rc.Bit(isDelta, m.match[m.matchState], m.matchState, kMatchStates - 1);
    switch (item.kind) {
      case ItemKind::kLzExplicit:
        rc.Bit(0, m.lz[m.lzState], m.lzState, kOtherStates - 1);
        EncodeOffset(lzOffset, item.offset);
        break;
      case ItemKind::kLzRep:
        rc.Bit(1, m.lz[m.lzState], m.lzState, kOtherStates - 1);
        EncodeRepIndex(item.rep, m.lzRep, m.lzRepState);
        break;
      case ItemKind::kDeltaExplicit:
        rc.Bit(0, m.delta[m.deltaState], m.deltaState, kOtherStates - 1);
        codesChanged |= power.Encode(item.power, bw);
        EncodeOffset(deltaOffset, item.offset);
        break;
      default:
        rc.Bit(1, m.delta[m.deltaState], m.deltaState, kOtherStates - 1);
        EncodeRepIndex(item.rep, m.deltaRep, m.deltaRepState);
        break;
    }
    EncodeLength(item.length);
    q.Apply(item);
  }
};

}  // namespace lzms
