// Adaptive Huffman codes of LZMS: lengths from frequencies, canonical codewords.
#include <algorithm>

#include "codec/format.h"

namespace lzms {

namespace {

// Stable bucket pass: out gets the symbols of `in` ordered by the digit
// (f >> shift) & 63 of their counts, `start` holding where each bucket begins
// (and start[64] == num). Increments of one bucket's position wait for each
// other, and most symbols share a bucket or two (many counts are alike), so
// the pass runs two independent chains: the first half of the input fills
// every bucket from its front, the second half from its back.
inline void BucketPass(const uint32_t* freqs, const uint16_t* in, unsigned num, unsigned shift,
                       const unsigned* start, uint16_t* out) {
  unsigned front[64], back[64];
  for (unsigned b = 0; b < 64; ++b) front[b] = start[b], back[b] = start[b + 1];
  const unsigned half = num / 2;
  for (unsigned i = 0; i < half; ++i) {
    const unsigned a = in[i], z = in[num - 1 - i];
    out[front[(freqs[a] >> shift) & 63]++] = static_cast<uint16_t>(a);
    out[--back[(freqs[z] >> shift) & 63]] = static_cast<uint16_t>(z);
  }
  if (num & 1) {
    const unsigned m = in[half];
    out[front[(freqs[m] >> shift) & 63]] = static_cast<uint16_t>(m);
  }
}

// Symbols sorted by (frequency, symbol) into `order`; returns the largest
// frequency. Frequencies stay small in LZMS (each period adds at most 1024 to
// halved counts), so two stable 6-bit bucket passes over the low 12 bits
// settle almost every call (one when all counts are below 64); anything
// larger falls back to a comparison sort.
uint32_t SortByFrequency(const uint32_t* freqs, unsigned num, uint16_t* order) {
  uint32_t maxFreq = 0;
  for (unsigned s = 0; s < num; ++s) maxFreq = std::max(maxFreq, freqs[s]);
  if (maxFreq >= 4096) {
    uint64_t keys[kMaxOffsetSyms];
    for (unsigned s = 0; s < num; ++s) keys[s] = (static_cast<uint64_t>(freqs[s]) << 16) | s;
    std::sort(keys, keys + num);
    for (unsigned s = 0; s < num; ++s) order[s] = static_cast<uint16_t>(keys[s]);
    return maxFreq;
  }
  // Both digits' histograms in one pass over the counts, in two halves, for
  // the same reason as the passes' two chains.
  unsigned low[64] = {}, high[64] = {}, low2[64] = {}, high2[64] = {};
  unsigned s = 0;
  for (; s + 1 < num; s += 2) {
    low[freqs[s] & 63]++;
    high[freqs[s] >> 6]++;
    low2[freqs[s + 1] & 63]++;
    high2[freqs[s + 1] >> 6]++;
  }
  if (s < num) low[freqs[s] & 63]++, high[freqs[s] >> 6]++;
  unsigned lowStart[65], highStart[65];
  for (unsigned b = 0, sumLow = 0, sumHigh = 0; b < 64; ++b) {
    lowStart[b] = sumLow;
    highStart[b] = sumHigh;
    sumLow += low[b] + low2[b];
    sumHigh += high[b] + high2[b];
  }
  lowStart[64] = highStart[64] = num;
  uint16_t symbols[kMaxOffsetSyms];
  for (s = 0; s < num; ++s) symbols[s] = static_cast<uint16_t>(s);
  if (maxFreq < 64) {
    BucketPass(freqs, symbols, num, 0, lowStart, order);
    return maxFreq;
  }
  uint16_t tmp[kMaxOffsetSyms];
  BucketPass(freqs, symbols, num, 0, lowStart, tmp);
  BucketPass(freqs, tmp, num, 6, highStart, order);
  return maxFreq;
}

// The two-queue merge over leaves sorted by frequency: nodeParent[k] gets the
// internal node that node k was merged into.
// Sums are of type F, wide enough for all counts together. Sentinels (the
// largest F) past the last leaf and at the node being made spare the checks
// for an empty queue.
template <typename F>
void Merge(const uint32_t* freqs, const uint16_t* order, unsigned num, uint16_t* nodeParent) {
  constexpr F kNone = static_cast<F>(~F{0});
  F leafFreq[kMaxOffsetSyms + 1], nodeFreq[kMaxOffsetSyms];
  for (unsigned i = 0; i < num; ++i) leafFreq[i] = static_cast<F>(freqs[order[i]]);
  leafFreq[num] = kNone;
  unsigned leaf = 0, node = 0;
  for (unsigned made = 0; made + 1 < num; ++made) {
    nodeFreq[made] = kNone;
    F sum = 0;
    for (int pick = 0; pick < 2; ++pick) {
      if (leafFreq[leaf] <= nodeFreq[node]) {  // a leaf wins a tie
        sum += leafFreq[leaf++];
      } else {
        sum += nodeFreq[node];
        nodeParent[node++] = static_cast<uint16_t>(made);
      }
    }
    nodeFreq[made] = sum;
  }
}

}  // namespace

// The classic construction over symbols sorted by (frequency, value): two
// queues, leaves and internal nodes, both in increasing frequency; on a tie
// the leaf is taken first. The encoder and the decoder must agree bit for bit,
// so nothing here may depend on anything but the frequencies.
void BuildHuffmanLengths(const uint32_t* freqs, unsigned num, uint8_t* lens) {
  if (num == 0) return;
  if (num == 1) {
    lens[0] = 1;
    return;
  }
  uint16_t order[kMaxOffsetSyms];  // symbols by (frequency, value)
  const uint32_t maxFreq = SortByFrequency(freqs, num, order);

  // Internal node k (0-based creation order) is made by the k-th merge. With
  // the usual small counts, every sum stays far below 2^32 (and below the
  // sentinel), which keeps the merge on 32-bit words.
  uint16_t nodeParent[kMaxOffsetSyms];
  if (static_cast<uint64_t>(maxFreq) * num < 0xFFFFFFFFu)
    Merge<uint32_t>(freqs, order, num, nodeParent);
  else
    Merge<uint64_t>(freqs, order, num, nodeParent);

  // Leaves per depth, level by level. Nodes are merged in the order they
  // were made, so nodeParent never decreases: the internal nodes of one depth
  // are a run of indices, and their internal children the run just below it
  // (those whose parent lies in the run). The rest of a level's 2 * width
  // children are leaves. One scan down the indices, and nothing waits on a
  // value just stored.
  unsigned counts[64] = {};
  const int root = static_cast<int>(num) - 2;
  int lo = root, k = root - 1;  // [lo, lo + width) holds the internal nodes of depth d
  unsigned width = 1, maxLen = 0;
  for (unsigned d = 0;; ++d) {
    while (k >= 0 && nodeParent[k] >= lo) --k;
    const unsigned internal = static_cast<unsigned>(lo - 1 - k);
    counts[d + 1] = 2 * width - internal;
    if (internal == 0) {
      maxLen = d + 1;
      break;
    }
    lo = k + 1;
    width = internal;
  }
  // Frequencies are halved often enough that 15 bits are never exceeded; keep
  // the code valid anyway by moving overlong leaves up (Kraft sum preserved).
  if (maxLen > kMaxCodewordLen) {
    for (unsigned d = maxLen; d > kMaxCodewordLen; --d) {
      counts[kMaxCodewordLen] += counts[d];
      counts[d] = 0;
    }
    uint64_t kraft = 0;
    for (unsigned d = 1; d <= kMaxCodewordLen; ++d)
      kraft += static_cast<uint64_t>(counts[d]) << (kMaxCodewordLen - d);
    while (kraft > (1u << kMaxCodewordLen)) {
      unsigned d = kMaxCodewordLen - 1;
      while (counts[d] == 0) --d;
      counts[d]--;
      counts[d + 1] += 2;
      counts[kMaxCodewordLen]--;
      kraft--;
    }
    maxLen = kMaxCodewordLen;
  }
  // The least frequent symbols (first in `order`) get the longest codewords.
  unsigned i = 0;
  for (unsigned len = maxLen; len >= 1; --len)
    for (unsigned c = counts[len]; c > 0; --c) lens[order[i++]] = static_cast<uint8_t>(len);
}

void BuildCodewords(const uint8_t* lens, unsigned num, uint32_t* codewords) {
  unsigned counts[kMaxCodewordLen + 1] = {};
  for (unsigned s = 0; s < num; ++s) counts[lens[s]]++;
  counts[0] = 0;
  uint32_t next[kMaxCodewordLen + 2] = {};
  for (unsigned len = 1; len <= kMaxCodewordLen; ++len) next[len + 1] = (next[len] + counts[len]) << 1;
  for (unsigned s = 0; s < num; ++s) codewords[s] = lens[s] ? next[lens[s]]++ : 0;
}

}  // namespace lzms
