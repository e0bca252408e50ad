// Adaptive Huffman decoding tables of the LZMS decoder.
#pragma once

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/format.h"

namespace lzms {

// A table entry is symbol | length << 11. Codewords longer than TableBits go
// through a primary entry 0x8000 | bits << 12 | start / 2 naming a
// second-level table of 2^bits entries (1 <= bits <= 15 - TableBits) indexed
// by the codeword's next `bits` bits, as many as the longest codeword of that
// primary prefix needs: with the frequencies halved every period, codewords
// rarely exceed TableBits by more than a bit, and tables sized for 15-bit
// codewords would be mostly filler rewritten at every rebuild. kInvalid marks
// a hole, which only the degenerate one-symbol code has (its bits field, 7,
// is never a table's).
constexpr uint16_t kInvalid = 0xFFFF;

// The primary table is rewritten at every rebuild, so its size is a trade:
// codes rebuilt often over few symbols (lengths, powers) take a smaller one.
template <unsigned TableBits, unsigned MaxSyms>
struct AdaptiveDecodeCode {
  static constexpr unsigned kTableBits = TableBits;
  // Only a code of one symbol has holes, and only the offset codes, whose
  // number of symbols depends on the output's size, can have one symbol.
  static constexpr bool kMayBeDegenerate = MaxSyms == kMaxOffsetSyms;
  static constexpr unsigned kMaxSubBits = kMaxCodewordLen - TableBits;
  // The code is complete, so below a primary prefix whose longest codeword
  // is `bits` deeper lies a full binary tree of height `bits`, with at least
  // bits + 1 codewords: the second-level tables together never have more
  // than 2^kMaxSubBits / (kMaxSubBits + 1) entries per symbol. No codeword is
  // longer than MaxSyms - 1 bits, so small alphabets need none.
  static constexpr unsigned kSubEntries =
      MaxSyms - 1 <= TableBits ? 0 : MaxSyms * (1u << kMaxSubBits) / (kMaxSubBits + 1) + (1u << kMaxSubBits);
  static_assert(kSubEntries == 0 || kMaxSubBits <= 6, "the bits field holds at most 6");
  static_assert(((1u << TableBits) + kSubEntries) / 2 < 0x1000, "the start field must fit 12 bits");

  unsigned num = 0;
  unsigned rebuildEvery = 0;
  unsigned untilRebuild = 0;
  uint32_t freqs[MaxSyms];
  uint8_t lens[MaxSyms];
  // PutRuns may write 7 entries past the primary table.
  alignas(16) uint16_t table[(1u << TableBits) + kSubEntries + 8];

  // The entry of the codeword at the top of `bits` (15 or more of them
  // valid), or kInvalid.
  __attribute__((always_inline)) uint32_t Lookup(uint64_t bits) const {
    uint32_t entry = table[bits >> (64 - TableBits)];
    if (entry >= 0x8000 && entry != kInvalid) entry = table[SubIndex(entry, bits)];
    return entry;
  }
  // Where a primary entry 0x8000 | ... sends the codeword at the top of `bits`.
  static __attribute__((always_inline)) unsigned SubIndex(uint32_t entry, uint64_t bits) {
    return (entry & 0xFFF) * 2 + static_cast<unsigned>((bits << TableBits) >> (64 - ((entry >> 12) & 7)));
  }

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
    unsigned counts[kMaxCodewordLen + 1];
    BuildHuffmanLengths(freqs, num, lens, counts);
    Fill(counts);
    for (unsigned s = 0; s < num; ++s) freqs[s] = (freqs[s] >> 1) + 1;
    untilRebuild = rebuildEvery;
  }

  // n copies of one entry from p on, n a power of two.
  static uint16_t* PutRun(uint16_t* p, uint16_t entry, unsigned n) {
#if defined(__SSE2__)
    if (n >= 8) {
      const __m128i eight = _mm_set1_epi16(static_cast<short>(entry));
      for (unsigned i = 0; i < n; i += 8) _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), eight);
      return p + n;
    }
#endif
    if (n >= 4) {
      const uint64_t four = entry * 0x0001000100010001ull;
      for (unsigned i = 0; i < n; i += 4) std::memcpy(p + i, &four, 8);
    } else if (n == 2) {
      const uint32_t two = entry * 0x00010001u;
      std::memcpy(p, &two, 4);
    } else {
      *p = entry;
    }
    return p + n;
  }

  // Entries for `count` symbols of one length, each repeated n times. With
  // SSE2, runs of 1, 2 or 4 entries go 8, 4 or 2 symbols per 16-byte store;
  // those may write up to 7 entries past the group and read up to 7 symbols
  // past it, which the caller allows for.
  static uint16_t* PutRuns(uint16_t* p, const uint16_t* syms, unsigned count, unsigned len, unsigned n) {
    const unsigned lenBits = len << 11;
#if defined(__SSE2__)
    if (n <= 4) {
      const __m128i bits = _mm_set1_epi16(static_cast<short>(lenBits));
      uint16_t* const end = p + count * n;
      for (unsigned k = 0; k < count; k += 8 / n, p += 8) {
        __m128i v = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(syms + k)), bits);
        if (n >= 2) v = _mm_unpacklo_epi16(v, v);
        if (n == 4) v = _mm_unpacklo_epi32(v, v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
      }
      return end;
    }
#endif
    for (unsigned k = 0; k < count; ++k) p = PutRun(p, static_cast<uint16_t>(syms[k] | lenBits), n);
    return p;
  }

  // The tables for the lengths in `lens`, `counts` holding how many there are
  // of each.
  void Fill(const unsigned* counts) {
    // A code of two or more symbols is complete and covers every entry.
    if (num < 2) std::memset(table, 0xFF, sizeof(uint16_t) << kTableBits);
    // Canonical order: by length, then by symbol value. Most symbols share a
    // length or two, and increments of one position wait for each other: the
    // symbols are placed in two chains, the first half from each length's
    // front, the second from its back.
    const unsigned half = num / 2;
    unsigned front[kMaxCodewordLen + 1], back[kMaxCodewordLen + 1];
    for (unsigned len = 0, sum = 0; len <= kMaxCodewordLen; ++len) {
      front[len] = sum;
      sum += counts[len];
      back[len] = sum;
    }
    uint16_t sorted[MaxSyms + 8];  // PutRuns may read 7 past the last
    std::memset(sorted + num, 0, 16);
    for (unsigned s = 0; s < half; ++s) {
      const unsigned z = num - 1 - s;
      sorted[front[lens[s]]++] = static_cast<uint16_t>(s);
      sorted[--back[lens[z]]] = static_cast<uint16_t>(z);
    }
    if (num & 1) sorted[front[lens[half]]] = static_cast<uint16_t>(half);

    // Canonical codewords are consecutive, so the entries come in table
    // order: short codewords fill the primary table from its start.
    const uint16_t* syms = sorted;
    uint16_t* p = table;
    for (unsigned len = 1; len <= kTableBits; syms += counts[len], ++len)
      p = PutRuns(p, syms, counts[len], len, 1u << (kTableBits - len));

    // The long ones follow prefix by prefix. Each prefix spans 2^kMaxSubBits
    // units of 15-bit code space, a codeword of length len 2^(15 - len) of
    // them (aligned, so none straddles two prefixes); the longest codeword
    // of a prefix is its last. Every second-level table has an even size,
    // so its start, halved, fits the entry.
    uint8_t longLens[MaxSyms];
    unsigned numLong = 0;
    for (unsigned len = kTableBits + 1; len <= kMaxCodewordLen; ++len)
      for (unsigned c = counts[len]; c > 0; --c) longLens[numLong++] = static_cast<uint8_t>(len);
    uint16_t* prefix = p;
    uint16_t* q = table + (1u << kTableBits);
    for (unsigned i = 0; i < numLong;) {
      unsigned j = i, units = 0;
      while (units < (1u << kMaxSubBits) && j < numLong) units += 1u << (kMaxCodewordLen - longLens[j++]);
      const unsigned deepest = longLens[j - 1];
      *prefix++ = static_cast<uint16_t>(0x8000 | (deepest - kTableBits) << 12 | (q - table) >> 1);
      for (; i < j; ++i)
        q = PutRun(q, static_cast<uint16_t>(syms[i] | longLens[i] << 11), 1u << (deepest - longLens[i]));
    }
  }
};

}  // namespace lzms
