// Adaptive Huffman decoding tables of the LZMS decoder.
#pragma once

#include <cstring>

#include "codec/format.h"

namespace lzms {

// A table entry is symbol | length << 11. Codewords longer than TableBits go
// through the primary entry 0x8000 | start of a second-level table indexed by
// the next 15 - TableBits bits. kInvalid marks a hole, which only the
// degenerate one-symbol code has.
constexpr uint16_t kInvalid = 0xFFFF;

// The primary table is rewritten at every rebuild, so its size is a trade:
// codes rebuilt often over few symbols (lengths, powers) take a smaller one.
template <unsigned TableBits, unsigned MaxSyms>
struct AdaptiveDecodeCode {
  static constexpr unsigned kTableBits = TableBits;
  static constexpr unsigned kSubBits = kMaxCodewordLen - TableBits;
  static_assert((1u << TableBits) + (MaxSyms << kSubBits) <= 0x8000, "subtable index must fit 15 bits");

  unsigned num = 0;
  unsigned rebuildEvery = 0;
  unsigned untilRebuild = 0;
  uint32_t freqs[MaxSyms];
  uint8_t lens[MaxSyms];
  // Long codewords of one primary prefix share a second-level table, and
  // there are at most as many prefixes as symbols.
  alignas(16) uint16_t table[(1u << TableBits) + (MaxSyms << kSubBits)];

  void Init(unsigned numSyms, unsigned every) {
    num = numSyms;
    rebuildEvery = every;
    for (unsigned s = 0; s < num; ++s) freqs[s] = 1;
    Rebuild();
  }

  // Rebuilds from the counts, then halves them for the next period. Kept out
  // of line: it runs once per period, and inlined copies would crowd the
  // decoder's hot loop.
  __attribute__((noinline)) void Rebuild() {
    BuildHuffmanLengths(freqs, num, lens);
    Fill();
    for (unsigned s = 0; s < num; ++s) freqs[s] = (freqs[s] >> 1) + 1;
    untilRebuild = rebuildEvery;
  }

  // Entries for `count` symbols of one length, each repeated n times, written
  // from p on. Runs of four or more go four entries per store.
  static uint16_t* PutRuns(uint16_t* p, const uint16_t* syms, unsigned count, unsigned len, unsigned n) {
    const unsigned lenBits = len << 11;
    if (n >= 4) {
      for (unsigned k = 0; k < count; ++k, p += n) {
        const uint64_t four = (syms[k] | lenBits) * 0x0001000100010001ull;
        for (unsigned i = 0; i < n; i += 4) std::memcpy(p + i, &four, 8);
      }
    } else if (n == 2) {
      for (unsigned k = 0; k < count; ++k, p += 2) {
        const uint32_t two = (syms[k] | lenBits) * 0x00010001u;
        std::memcpy(p, &two, 4);
      }
    } else {
      for (unsigned k = 0; k < count; ++k) *p++ = static_cast<uint16_t>(syms[k] | lenBits);
    }
    return p;
  }

  void Fill() {
    // A code of two or more symbols is complete and covers every entry.
    if (num < 2) std::memset(table, 0xFF, sizeof(uint16_t) << kTableBits);
    // Canonical order: by length, then by symbol value.
    unsigned counts[kMaxCodewordLen + 1] = {};
    for (unsigned s = 0; s < num; ++s) counts[lens[s]]++;
    unsigned start[kMaxCodewordLen + 2] = {};
    for (unsigned len = 1; len <= kMaxCodewordLen; ++len) start[len + 1] = start[len] + counts[len];
    uint16_t sorted[MaxSyms];
    for (unsigned s = 0; s < num; ++s) sorted[start[lens[s]]++] = static_cast<uint16_t>(s);

    // Canonical codewords are consecutive, so the entries come in table
    // order: short codewords fill the primary table from its start, long ones
    // the second-level tables one after another (a complete code fills every
    // second-level table it starts, and they follow the primary prefixes).
    const uint16_t* syms = sorted;
    uint16_t* p = table;
    for (unsigned len = 1; len <= kTableBits; syms += counts[len], ++len)
      p = PutRuns(p, syms, counts[len], len, 1u << (kTableBits - len));
    const unsigned firstPrefix = static_cast<unsigned>(p - table);
    uint16_t* const sub = table + (1u << kTableBits);
    p = sub;
    for (unsigned len = kTableBits + 1; len <= kMaxCodewordLen; syms += counts[len], ++len)
      p = PutRuns(p, syms, counts[len], len, 1u << (kMaxCodewordLen - len));
    const unsigned prefixes = static_cast<unsigned>(p - sub) >> kSubBits;
    for (unsigned j = 0; j < prefixes; ++j)
      table[firstPrefix + j] = static_cast<uint16_t>(0x8000 | ((1u << kTableBits) + (j << kSubBits)));
  }
};

}  // namespace lzms
