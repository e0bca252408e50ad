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

  // n (a power of two) copies of entry from table[first], first a multiple of n.
  void Put(unsigned first, unsigned n, uint16_t entry) {
    if (n >= 4) {
      // Four entries per store; runs are aligned to their size.
      const uint64_t four = entry * 0x0001000100010001ull;
      uint16_t* p = table + first;
      for (unsigned i = 0; i < n; i += 4) std::memcpy(p + i, &four, 8);
    } else {
      for (unsigned i = 0; i < n; ++i) table[first + i] = entry;
    }
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
    const unsigned total = start[kMaxCodewordLen + 1];

    uint32_t code = 0;  // left-aligned to kMaxCodewordLen bits
    unsigned k = 0;
    // Short codewords: runs in the primary table.
    for (; k < total; ++k) {
      const unsigned sym = sorted[k], len = lens[sym];
      if (len > kTableBits) break;
      Put(code >> kSubBits, 1u << (kTableBits - len), static_cast<uint16_t>(sym | len << 11));
      code += 1u << (kMaxCodewordLen - len);
    }
    // Long ones: second-level tables, in increasing prefix order.
    unsigned nextSub = 1u << kTableBits;
    unsigned lastPrefix = ~0u;
    for (; k < total; ++k) {
      const unsigned sym = sorted[k], len = lens[sym];
      const unsigned prefix = code >> kSubBits;
      if (prefix != lastPrefix) {
        lastPrefix = prefix;
        table[prefix] = static_cast<uint16_t>(0x8000 | nextSub);
        nextSub += 1u << kSubBits;
      }
      const unsigned first = (table[prefix] & 0x7FFF) + (code & ((1u << kSubBits) - 1));
      Put(first, 1u << (kMaxCodewordLen - len), static_cast<uint16_t>(sym | len << 11));
      code += 1u << (kMaxCodewordLen - len);
    }
  }
};

}  // namespace lzms
