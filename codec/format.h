// The LZMS format: constants, slot tables and the adaptive models shared by
// the decoder and the encoder.
//
// A stream is read in 16-bit little-endian units from both ends at once:
//
//  * from the front, a binary range coder (32-bit range, 16-bit renormalisation)
//    carries the item-type decisions. Every decision class has a small table of
//    adaptive probabilities indexed by the last few decisions of that class
//    (its "state"); a probability is n/64, n being the number of zeros among
//    the last 64 bits coded with that entry (0 and 64 are clamped to 1 and 63);
//  * from the back, a bit stream (most significant bit of each unit first)
//    carries Huffman-coded symbols and raw extra bits. The five Huffman codes
//    are adaptive: each starts with every frequency at 1 and is rebuilt after
//    a fixed number of symbols from the counts seen so far, the counts then
//    being halved (f = f / 2 + 1). The rebuild must give exactly the lengths
//    that the classic two-queue Huffman construction gives when symbols are
//    sorted by (frequency, value) and a leaf wins a frequency tie against an
//    internal node; codewords are canonical.
//
// Items, told apart by range-coded decisions:
//   main 0                  literal byte (literal code)
//   main 1, match 0         LZ match: lz 0 = explicit offset (offset code +
//                           extra bits), lz 1 = one of three repeat offsets
//                           (lz_rep[0], lz_rep[1] decide which); then length
//   main 1, match 1         delta match: delta 0 = explicit (power code, then
//                           raw offset like an LZ offset), delta 1 = one of
//                           three repeat (power, raw offset) pairs; then length
// A delta match of span s = 2^power and distance d = raw << power rebuilds
//   out[i] = out[i - d] + out[i - s] - out[i - d - s]   (bytes, modulo 256).
//
// Repeat queues hold four entries, initially {1, 2, 3, 4} (delta: raw offsets
// 1..4 with power 0). Using an entry removes it; the offset of an item enters
// the front of its queue only after one further item has been coded, so an
// offset can never be repeated by the item that directly follows it.
//
// After decoding, a reverse x86 filter turns absolute call/RIP-relative
// targets back into relative ones (see x86_filter.cpp); the encoder applies
// the forward filter first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lzms {

constexpr unsigned kProbBits = 6;  // probabilities are n / 64
constexpr unsigned kProbDenominator = 1u << kProbBits;
constexpr unsigned kMainStates = 16, kMatchStates = 32, kOtherStates = 64;
constexpr unsigned kNumReps = 3;

constexpr unsigned kLiteralSyms = 256, kLengthSyms = 54, kPowerSyms = 8, kMaxOffsetSyms = 799;
constexpr unsigned kLiteralRebuild = 1024, kOffsetRebuild = 1024, kLengthRebuild = 512, kPowerRebuild = 512;
constexpr unsigned kMaxCodewordLen = 15;

// Offset slots: runs of (extra bits, number of slots); bases are cumulative from 1.
struct SlotRun {
  uint8_t bits;
  uint16_t count;
};
constexpr SlotRun kOffsetRuns[] = {{0, 8},   {2, 9},   {3, 7},   {4, 10},  {5, 15},   {6, 15},  {7, 20},
                                   {8, 20},  {9, 30},  {10, 33}, {11, 40}, {12, 42},  {13, 45}, {14, 60},
                                   {15, 73}, {16, 80}, {17, 85}, {18, 95}, {19, 105}, {20, 6},  {30, 1}};
constexpr SlotRun kLengthRuns[] = {{0, 26}, {1, 4}, {2, 6}, {3, 4},  {4, 5},  {5, 2}, {6, 1},
                                   {7, 1},  {8, 1}, {9, 1}, {10, 1}, {16, 1}, {30, 1}};

template <size_t N>
struct SlotTable {
  uint32_t base[N + 1];  // base[N] is one past the largest value
  uint8_t extra[N];
};

template <size_t N, size_t R>
constexpr SlotTable<N> MakeSlots(const SlotRun (&runs)[R]) {
  SlotTable<N> t{};
  uint32_t value = 1;
  size_t slot = 0;
  for (const SlotRun& run : runs)
    for (unsigned i = 0; i < run.count; ++i) {
      t.base[slot] = value;
      t.extra[slot++] = run.bits;
      value += 1u << run.bits;
    }
  t.base[slot] = value;
  return t;
}

inline constexpr SlotTable<kMaxOffsetSyms> kOffsetSlots = MakeSlots<kMaxOffsetSyms>(kOffsetRuns);
inline constexpr SlotTable<kLengthSyms> kLengthSlots = MakeSlots<kLengthSyms>(kLengthRuns);
static_assert(kOffsetSlots.base[kMaxOffsetSyms] == 0x465be4a5u);
static_assert(kLengthSlots.base[kLengthSyms] == 0x400108abu);

// Slot holding `value` (value >= base[0]) in a table of n slots.
template <size_t N>
inline unsigned SlotOf(const SlotTable<N>& t, uint32_t value, unsigned n = N) {
  unsigned lo = 0, hi = n - 1;
  while (lo < hi) {
    unsigned mid = (lo + hi + 1) / 2;
    if (value >= t.base[mid])
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

// The offset code has as many symbols as the slots needed to reach size - 1.
inline unsigned NumOffsetSlots(size_t size) {
  if (size < 2) return 0;
  return SlotOf(kOffsetSlots, static_cast<uint32_t>(size - 1)) + 1;
}

// One adaptive probability: the last 64 bits coded with it and their zeros.
struct Prob {
  uint64_t recent = 0x0000000055555555ull;
  uint32_t zeros = 48;

  // 0 and 64 are clamped to 1 and 63, without branches.
  uint32_t Get() const { return zeros - (zeros >> kProbBits) + ((zeros - 1) >> 31); }
  void Update(unsigned bit) {
    zeros += static_cast<uint32_t>(recent >> 63) - bit;
    recent = (recent << 1) | bit;
  }
};

// Every decision class: its state (last decisions) and its probability table.
struct DecisionModels {
  uint32_t mainState = 0, matchState = 0, lzState = 0, deltaState = 0;
  uint32_t lzRepState[2] = {0, 0}, deltaRepState[2] = {0, 0};
  Prob main[kMainStates], match[kMatchStates], lz[kOtherStates], delta[kOtherStates];
  Prob lzRep[2][kOtherStates], deltaRep[2][kOtherStates];
};

// Canonical Huffman lengths from frequencies (all nonzero in LZMS), as the
// format requires them; `lens` gets num lengths of at most kMaxCodewordLen.
void BuildHuffmanLengths(const uint32_t* freqs, unsigned num, uint8_t* lens);
// The same, also counting the codewords of each length into lenCounts[0..15].
void BuildHuffmanLengths(const uint32_t* freqs, unsigned num, uint8_t* lens, unsigned* lenCounts);

// Canonical codewords from lengths (used by the encoder; the decoder builds
// its lookup tables from the lengths directly).
void BuildCodewords(const uint8_t* lens, unsigned num, uint32_t* codewords);

// The reversible x86 translation; `undo` selects the decoder's direction.
// `scratch` must hold 65536 entries. Data of kX86MinSize bytes or fewer is
// left as it is.
constexpr size_t kX86MinSize = 17;
void X86Filter(uint8_t* data, size_t size, int32_t* scratch, bool undo);

// The translation looks for instructions 32 bytes at a time where the
// processor has AVX2, 16 otherwise. Tests run both: false asks for the 16-byte
// scan whatever the processor. Returns the previous setting.
bool X86SetWideScan(bool wide);

// The same translation in steps, for a consumer that finishes the start of a
// chunk while the rest is still being decoded. Bytes before `next` are final.
struct X86State {
  int32_t next;     // first position not yet examined
  int32_t lastX86;  // end of the last instruction that looked like x86 code
  int32_t end;      // no instruction starts at or after this position
  int32_t lastUse[65536];
};
void X86Begin(X86State* s, size_t size);
// Translates the instructions that start before min(stop, s->end).
// window[k] is the byte at position base + k; it must reach stop + 16.
void X86Step(X86State* s, uint8_t* window, int32_t base, int32_t stop, bool undo);

}  // namespace lzms
