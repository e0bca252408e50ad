// Adaptive Huffman codes of LZMS: lengths from frequencies, canonical codewords.
#include <algorithm>

#include "codec/format.h"

namespace lzms {

namespace {

// Sort keys: frequency << 10 | symbol, for frequencies below 4096.
constexpr unsigned kSymbolBits = 10;
static_assert(kMaxOffsetSyms <= 1u << kSymbolBits);

// Stable counting sort of the keys by the digit (key >> shift) & 63.
// Increments of one bucket's count or position wait for each other, and most
// keys share a bucket or two (many counts are alike), so the work runs in
// four independent chains, one per quarter of the input: with each half's
// counts, the first quarter fills a bucket forward from its start, the
// second backward from where the first half ends in it, the third forward
// from there, the fourth backward from the bucket's end.
template <typename In>
inline void CountingSort(const In& in, unsigned num, unsigned shift, uint32_t* out) {
  unsigned first[64] = {}, second[64] = {};
  const unsigned half = num / 2, quarter = half / 2;
  for (unsigned i = 0; i < quarter; ++i) {
    first[(in(i) >> shift) & 63]++;
    first[(in(half - 1 - i) >> shift) & 63]++;
    second[(in(half + i) >> shift) & 63]++;
    second[(in(num - 1 - i) >> shift) & 63]++;
  }
  if (half & 1) first[(in(quarter) >> shift) & 63]++;
  for (unsigned i = half + quarter; i < num - quarter; ++i) second[(in(i) >> shift) & 63]++;
  unsigned q0[64], q1[64], q2[64], q3[64];
  for (unsigned b = 0, sum = 0; b < 64; ++b) {
    q0[b] = sum;
    q1[b] = q2[b] = sum + first[b];
    sum += first[b] + second[b];
    q3[b] = sum;
  }
  for (unsigned i = 0; i < quarter; ++i) {
    const uint32_t a = in(i), b = in(half - 1 - i), c = in(half + i), d = in(num - 1 - i);
    out[q0[(a >> shift) & 63]++] = a;
    out[--q1[(b >> shift) & 63]] = b;
    out[q2[(c >> shift) & 63]++] = c;
    out[--q3[(d >> shift) & 63]] = d;
  }
  if (half & 1) {
    const uint32_t a = in(quarter);
    out[q0[(a >> shift) & 63]] = a;
  }
  for (unsigned i = half + quarter; i < num - quarter; ++i) {
    const uint32_t c = in(i);
    out[q2[(c >> shift) & 63]++] = c;
  }
}

// Keys sorted by (frequency, symbol) into `order`; false (and nothing done)
// when a frequency is 4096 or more. Frequencies stay small in LZMS (each
// period adds at most 1024 to halved counts): a stable pass over the low 6
// bits of the counts, then (unless every count is below 64) one over the next
// 6. Most counts are below 64, too, so that second pass first moves those, in
// order, to the front, and sorts only the rest.
bool SortByFrequency(const uint32_t* freqs, unsigned num, uint32_t* order) {
  uint32_t any = 0;
  for (unsigned s = 0; s < num; ++s) any |= freqs[s];
  if (any >= 4096) return false;
  auto key = [freqs](unsigned s) { return freqs[s] << kSymbolBits | s; };
  if (any < 64) {
    CountingSort(key, num, kSymbolBits, order);
    return true;
  }
  uint32_t tmp[kMaxOffsetSyms], rest[kMaxOffsetSyms];
  CountingSort(key, num, kSymbolBits, tmp);
  unsigned small = 0, large = 0;
  for (unsigned i = 0; i < num; ++i) {
    const uint32_t k = tmp[i];
    const bool isSmall = k < (64u << kSymbolBits);
    order[small] = k;
    rest[large] = k;
    small += isSmall;
    large += !isSmall;
  }
  CountingSort([&rest](unsigned i) { return rest[i]; }, large, kSymbolBits + 6, order + small);
  return true;
}

// The two-queue merge over leaves sorted by frequency: nodeParent[k] gets the
// internal node that node k was merged into.
// Sums are of type F, wide enough for all counts together. Sentinels (the
// largest F) past the last leaf and at the node being made spare the checks
// for an empty queue.
//
// A merge takes the two smallest of the queues' fronts l0 <= l1 and
// n0 <= n1 (a leaf winning a tie). Two tests tell the three outcomes: both
// leaves when l1 <= n0, both nodes when n1 < l0, otherwise l0 and n0 (in
// whichever order, the same sum), which saves a mispredicted branch over
// taking one at a time.
template <typename F, typename Key>
void Merge(const Key* order, unsigned shift, unsigned num, uint16_t* nodeParent) {
  constexpr F kNone = static_cast<F>(~F{0});
  F leafFreq[kMaxOffsetSyms + 2], nodeFreq[kMaxOffsetSyms];
  for (unsigned i = 0; i < num; ++i) leafFreq[i] = static_cast<F>(order[i] >> shift);
  leafFreq[num] = leafFreq[num + 1] = kNone;
  unsigned leaf = 0, node = 0;
  for (unsigned made = 0; made + 1 < num; ++made) {
    nodeFreq[made] = kNone;
    const F l0 = leafFreq[leaf], l1 = leafFreq[leaf + 1], n0 = nodeFreq[node];
    F sum;
    if (l1 <= n0) {
      sum = l0 + l1;
      leaf += 2;
    } else if (nodeFreq[node + 1] < l0) {
      sum = n0 + nodeFreq[node + 1];
      nodeParent[node] = nodeParent[node + 1] = static_cast<uint16_t>(made);
      node += 2;
    } else {
      sum = l0 + n0;
      nodeParent[node] = static_cast<uint16_t>(made);
      ++leaf;
      ++node;
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
  unsigned lenCounts[kMaxCodewordLen + 1];
  BuildHuffmanLengths(freqs, num, lens, lenCounts);
}

void BuildHuffmanLengths(const uint32_t* freqs, unsigned num, uint8_t* lens, unsigned* lenCounts) {
  for (unsigned len = 0; len <= kMaxCodewordLen; ++len) lenCounts[len] = 0;
  if (num == 0) return;
  if (num == 1) {
    lens[0] = 1;
    lenCounts[1] = 1;
    return;
  }
  // Internal node k (0-based creation order) is made by the k-th merge.
  uint16_t nodeParent[kMaxOffsetSyms];
  // Keys by (frequency, value): frequency << 10 | symbol for the usual small
  // counts, whose sums stay far below 2^32 (and below the sentinel), which
  // keeps the merge on 32-bit words; frequency << 16 | symbol otherwise.
  uint32_t order[kMaxOffsetSyms];
  uint64_t wide[kMaxOffsetSyms];
  const bool narrow = SortByFrequency(freqs, num, order);
  if (narrow) {
    Merge<uint32_t>(order, kSymbolBits, num, nodeParent);
  } else {
    for (unsigned s = 0; s < num; ++s) wide[s] = (static_cast<uint64_t>(freqs[s]) << 16) | s;
    std::sort(wide, wide + num);
    Merge<uint64_t>(wide, 16, num, nodeParent);
  }

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
  for (unsigned len = 1; len <= maxLen; ++len) lenCounts[len] = counts[len];
  // The least frequent symbols (first in `order`) get the longest codewords.
  unsigned i = 0;
  if (narrow) {
    for (unsigned len = maxLen; len >= 1; --len)
      for (unsigned c = counts[len]; c > 0; --c)
        lens[order[i++] & ((1u << kSymbolBits) - 1)] = static_cast<uint8_t>(len);
  } else {
    for (unsigned len = maxLen; len >= 1; --len)
      for (unsigned c = counts[len]; c > 0; --c) lens[wide[i++] & 0xFFFF] = static_cast<uint8_t>(len);
  }
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
