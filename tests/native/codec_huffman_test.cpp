// The adaptive codes' lengths: the decoder and the encoder must build exactly
// the lengths of the classic two-queue construction, or every stream after
// the first rebuild decodes wrongly. Checked against a plain rendering of it.
// And the decoder's lookup tables: every codeword leads to its symbol.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "codec/decode_tables.h"
#include "codec/format.h"

namespace {

// Symbols sorted by (frequency, value); two queues, a leaf wins a tie; the
// depth of each leaf found by walking up to the root.
std::vector<uint8_t> ReferenceLengths(const std::vector<uint32_t>& freqs) {
  const size_t n = freqs.size();
  std::vector<size_t> order(n);
  for (size_t s = 0; s < n; ++s) order[s] = s;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return freqs[a] < freqs[b]; });
  std::vector<uint64_t> weight;  // leaves 0..n-1 in order, then internal nodes
  std::vector<size_t> parent(2 * n, 0);
  for (size_t s : order) weight.push_back(freqs[s]);
  size_t leaf = 0, node = n;
  for (size_t made = n; made < 2 * n - 1; ++made) {
    uint64_t sum = 0;
    for (int pick = 0; pick < 2; ++pick) {
      const bool takeLeaf = leaf < n && (node >= made || weight[leaf] <= weight[node]);
      const size_t taken = takeLeaf ? leaf++ : node++;
      parent[taken] = made;
      sum += weight[taken];
    }
    weight.push_back(sum);
  }
  std::vector<uint8_t> lens(n);
  for (size_t i = 0; i < n; ++i) {
    unsigned depth = 0;
    for (size_t at = i; at != 2 * n - 2; at = parent[at]) ++depth;
    lens[order[i]] = static_cast<uint8_t>(depth);
  }
  return lens;
}

TEST(CodecHuffman, LengthsAreThoseOfTheTwoQueueConstruction) {
  struct Case {
    const char* name;
    std::vector<uint32_t> freqs;
  };
  std::vector<Case> cases = {{"two", {5, 3}}, {"all alike", std::vector<uint32_t>(256, 1)}};
  std::mt19937 rng(21);
  for (unsigned num : {3u, 8u, 54u, 256u, 799u}) {
    std::vector<uint32_t> small(num), wide(num), sparse(num, 1);
    for (unsigned s = 0; s < num; ++s) {
      small[s] = 1 + rng() % 60;                                      // one bucket pass
      wide[s] = rng() % 4 == 0 ? 64 + rng() % 400 : 20 + rng() % 40;  // two bucket passes
      if (rng() % 7 == 0) sparse[s] = 1 + rng() % 60;
    }
    cases.push_back({"small counts", small});
    cases.push_back({"wide counts", wide});
    cases.push_back({"mostly unseen", sparse});
  }
  // Growing like Fibonacci numbers: the deepest tree that fits 15 bits.
  std::vector<uint32_t> deep = {1, 1};
  while (deep.size() < 15) deep.push_back(deep[deep.size() - 1] + deep[deep.size() - 2]);
  cases.push_back({"deep", deep});
  std::vector<uint32_t> large(300);
  for (unsigned s = 0; s < large.size(); ++s) large[s] = 4096 + rng() % 100000;  // the sorting fallback
  cases.push_back({"large counts", large});

  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(c.freqs.size()) + " symbols");
    const std::vector<uint8_t> expected = ReferenceLengths(c.freqs);
    ASSERT_LE(*std::max_element(expected.begin(), expected.end()), lzms::kMaxCodewordLen);
    std::vector<uint8_t> lens(c.freqs.size());
    lzms::BuildHuffmanLengths(c.freqs.data(), static_cast<unsigned>(c.freqs.size()), lens.data());
    EXPECT_EQ(lens, expected);
  }
}

// Each code's table, built from the counts as the decoder does, finds every
// codeword's symbol and length whatever bits follow it; a degenerate
// one-symbol code refuses the codeword it lacks.
template <unsigned TableBits, unsigned MaxSyms>
void ExpectTableFindsEveryCodeword(const std::vector<uint32_t>& freqs) {
  auto code = std::make_unique<lzms::AdaptiveDecodeCode<TableBits, MaxSyms>>();
  code->num = static_cast<unsigned>(freqs.size());
  std::copy(freqs.begin(), freqs.end(), code->freqs);
  code->Rebuild();
  std::vector<uint32_t> codewords(freqs.size());
  lzms::BuildCodewords(code->lens, code->num, codewords.data());
  std::mt19937_64 rng(5);
  for (unsigned s = 0; s < code->num; ++s) {
    const unsigned len = code->lens[s];
    for (int tail = 0; tail < 4; ++tail) {
      const uint64_t after = (tail == 0 ? 0 : tail == 1 ? ~0ull : rng()) >> len;
      const uint64_t bits = static_cast<uint64_t>(codewords[s]) << (64 - len) | after;
      EXPECT_EQ(code->Lookup(bits), s | len << 11) << "symbol " << s << " of length " << len;
    }
  }
  if (code->num == 1) EXPECT_EQ(code->Lookup(~0ull), lzms::kInvalid);
}

TEST(CodecHuffman, DecodeTablesFindEveryCodeword) {
  std::mt19937 rng(8);
  // Fibonacci-like counts reach 15-bit codewords; mixed with many rare
  // symbols, they spread long codewords over prefixes of every depth.
  std::vector<uint32_t> fib = {1, 1};
  while (fib.size() < 16) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
  std::vector<uint32_t> offsets(799), literals(256), lengths(54), powers(8, 1);
  for (unsigned s = 0; s < offsets.size(); ++s) offsets[s] = s < 16 ? fib[15 - s] * 2 : 1 + rng() % 3;
  for (unsigned s = 0; s < literals.size(); ++s) literals[s] = 1 + rng() % (s < 8 ? 2000 : 20);
  for (unsigned s = 0; s < lengths.size(); ++s) lengths[s] = s < 16 ? fib[s] : 1;
  powers[0] = 900;
  for (const auto& freqs : {fib, offsets, std::vector<uint32_t>(799, 1), std::vector<uint32_t>{7}})
    ExpectTableFindsEveryCodeword<10, lzms::kMaxOffsetSyms>(freqs);
  for (const auto& freqs : {literals, fib, std::vector<uint32_t>(256, 3)})
    ExpectTableFindsEveryCodeword<10, lzms::kLiteralSyms>(freqs);
  for (const auto& freqs : {lengths, fib}) ExpectTableFindsEveryCodeword<9, lzms::kLengthSyms>(freqs);
  ExpectTableFindsEveryCodeword<7, lzms::kPowerSyms>(powers);
}

}  // namespace
