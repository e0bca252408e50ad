// The buffered container: header, chunks, stored chunks, and refusals.
#include <gtest/gtest.h>

#include <cstring>

#include "codec/lzms.h"
#include "codec_support.h"
#include "tests/codec_vectors.h"

namespace {

void PutLe(Bytes& v, size_t at, uint64_t value, int n) {
  for (int i = 0; i < n; ++i) v[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

bool Unpack(const Bytes& buffer, size_t outSize, Bytes* out, size_t* actual) {
  out->assign(outSize, 0);
  return LzmsBufferedDecompress(buffer.data(), buffer.size(), out->data(), out->size(), actual);
}

// Re-signs a header edited by a test, so that only the intended field is wrong.
uint8_t CheckByte(const Bytes& b) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < 24; ++i) {
    if (i == 6) continue;
    crc ^= b[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (crc & 1 ? 0xEDB88320u : 0);
  }
  return static_cast<uint8_t>(~crc);
}

TEST(CodecContainer, HeaderMatchesWhatWindowsWrites) {
  // Windows' MSZIP headers carry the same check byte rule.
  const Bytes mszip = HexBytes("0a51e5c01800c102c9fc0000000000000080000000000000");
  EXPECT_EQ(CheckByte(mszip), 0xC1);
  const Bytes data = TextBytes(5000, 1);
  const Bytes buffer = LzmsBufferedCompress(data.data(), data.size());
  ASSERT_GT(buffer.size(), 28u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), HexBytes("0a51e5c01800"));
  EXPECT_EQ(buffer[6], CheckByte(buffer));
  EXPECT_EQ(buffer[7], 5);
  uint64_t total = 0, chunk = 0;
  std::memcpy(&total, &buffer[8], 8);
  std::memcpy(&chunk, &buffer[16], 8);
  EXPECT_EQ(total, data.size());
  EXPECT_EQ(chunk, data.size());  // one chunk for everything by default
}

TEST(CodecContainer, ManyChunksAndStoredChunksRoundTrip) {
  Bytes data = TextBytes(200000, 2);
  const Bytes noise = RandomBytes(70000, 3);
  data.insert(data.begin() + 65536, noise.begin(), noise.end());  // a whole chunk of noise
  const Bytes buffer = LzmsBufferedCompress(data.data(), data.size(), 65536);
  Bytes out;
  size_t actual = 0;
  ASSERT_TRUE(Unpack(buffer, data.size() + 10, &out, &actual));
  ASSERT_EQ(actual, data.size());
  out.resize(actual);
  EXPECT_EQ(out, data);
  // Walk the chunks: five of them, the second stored as is, and each
  // compressed one is a raw stream that wimlib restores too.
  size_t at = 24, done = 0, chunks = 0, stored = 0;
  while (at < buffer.size()) {
    const size_t raw = std::min<size_t>(65536, data.size() - done);
    uint32_t n = 0;
    std::memcpy(&n, &buffer[at], 4);
    const Bytes part(buffer.begin() + static_cast<long>(at) + 4,
                     buffer.begin() + static_cast<long>(at + 4 + n));
    if (n == raw) {
      ++stored;
    } else {
      Bytes theirs;
      ASSERT_TRUE(WimDecompress(part, raw, &theirs));
      EXPECT_TRUE(std::equal(theirs.begin(), theirs.end(), data.begin() + static_cast<long>(done)));
    }
    at += 4 + n;
    done += raw;
    ++chunks;
  }
  EXPECT_EQ(chunks, 5u);
  EXPECT_GE(stored, 1u);
}

TEST(CodecContainer, EmptyInput) {
  const Bytes buffer = LzmsBufferedCompress(nullptr, 0);
  EXPECT_EQ(buffer.size(), 24u);
  Bytes out;
  size_t actual = 1;
  EXPECT_TRUE(Unpack(buffer, 0, &out, &actual));
  EXPECT_EQ(actual, 0u);
}

TEST(CodecContainer, DamagedOrForeignBuffersAreRefused) {
  const Bytes data = TextBytes(150000, 4);
  const Bytes good = LzmsBufferedCompress(data.data(), data.size(), 65536);
  Bytes out;
  size_t actual = 0;
  ASSERT_TRUE(Unpack(good, data.size(), &out, &actual));

  auto refused = [&](Bytes b, size_t outSize, const char* what) {
    size_t got = 0;
    EXPECT_FALSE(Unpack(b, outSize, &out, &got)) << what;
  };
  Bytes b = good;
  b[0] ^= 1;
  refused(b, data.size(), "magic");
  b = good;
  b[6] ^= 0x10;
  refused(b, data.size(), "check byte");
  b = good;
  b[7] = 3;
  b[6] = CheckByte(b);
  refused(b, data.size(), "algorithm");
  refused(good, data.size() - 1, "output too small");
  b = good;
  PutLe(b, 16, 0, 8);
  b[6] = CheckByte(b);
  refused(b, data.size(), "chunk size 0");
  b = good;
  PutLe(b, 8, data.size() + 65536, 8);
  b[6] = CheckByte(b);
  refused(b, data.size() + 65536, "total beyond the chunks");
  b = good;
  PutLe(b, 24, 0xFFFFFFF0u, 4);
  refused(b, data.size(), "chunk overruns the buffer");
  for (size_t keep : {size_t{0}, size_t{10}, size_t{23}, size_t{26}, good.size() / 2, good.size() - 1}) {
    refused(Bytes(good.begin(), good.begin() + static_cast<long>(keep)), data.size(), "truncated");
  }
  b = good;
  b.push_back(0);
  refused(b, data.size(), "trailing byte");
  b = good;
  b[40] ^= 0xFF;  // inside the first compressed chunk
  Bytes damaged;
  size_t got = 0;
  const bool ok = Unpack(b, data.size(), &damaged, &got);
  EXPECT_FALSE(ok && damaged == data);
}

}  // namespace
