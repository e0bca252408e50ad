// Adaptive Huffman decoding tables of the LZMS decoder.
#pragma once

#include <cstring>

#include "codec/format.h"

namespace lzms {

// A table entry is symbol | length << 11. Codewords longer than kTableBits go
// through the primary entry 0x8000 | start of a 32-entry second-level table
// indexed by the next 15 - kTableBits bits. kInvalid marks a hole, which only
// the degenerate one-symbol code has.
constexpr unsigned kTableBits = 10;
constexpr unsigned kSubBits = kMaxCodewordLen - kTableBits;
constexpr uint16_t kInvalid = 0xFFFF;

struct AdaptiveDecodeCode {
  unsigned num = 0;
  unsigned rebuildEvery = 0;
  unsigned untilRebuild = 0;
  uint32_t freqs[kMaxOffsetSyms];
  uint8_t lens[kMaxOffsetSyms];
  uint16_t table[(1u << kTableBits) + (kMaxOffsetSyms << kSubBits)];

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

  void Fill() {
    // A code of two or more symbols is complete and covers every entry.
    if (num < 2) std::memset(table, 0xFF, sizeof(uint16_t) << kTableBits);
    // Canonical order: by length, then by symbol value.
    unsigned counts[kMaxCodewordLen + 1] = {};
    for (unsigned s = 0; s < num; ++s) counts[lens[s]]++;
    unsigned start[kMaxCodewordLen + 2] = {};
    for (unsigned len = 1; len <= kMaxCodewordLen; ++len) start[len + 1] = start[len] + counts[len];
    uint16_t sorted[kMaxOffsetSyms];
    for (unsigned s = 0; s < num; ++s) sorted[start[lens[s]]++] = static_cast<uint16_t>(s);
    const unsigned total = start[kMaxCodewordLen + 1];

    uint32_t code = 0;  // left-aligned to kMaxCodewordLen bits
    unsigned nextSub = 1u << kTableBits;
    unsigned lastPrefix = ~0u;  // long codewords come in increasing order
    for (unsigned k = 0; k < total; ++k) {
      const unsigned sym = sorted[k], len = lens[sym];
      const uint16_t entry = static_cast<uint16_t>(sym | len << 11);
      if (len <= kTableBits) {
        const unsigned first = code >> kSubBits, n = 1u << (kTableBits - len);
        for (unsigned i = 0; i < n; ++i) table[first + i] = entry;
      } else {
        const unsigned prefix = code >> kSubBits;
        if (prefix != lastPrefix) {
          lastPrefix = prefix;
          table[prefix] = static_cast<uint16_t>(0x8000 | nextSub);
          nextSub += 1u << kSubBits;
        }
        const unsigned first = (table[prefix] & 0x7FFF) + (code & ((1u << kSubBits) - 1));
        const unsigned n = 1u << (kMaxCodewordLen - len);
        for (unsigned i = 0; i < n; ++i) table[first + i] = entry;
      }
      code += 1u << (kMaxCodewordLen - len);
    }
  }
};

}  // namespace lzms
