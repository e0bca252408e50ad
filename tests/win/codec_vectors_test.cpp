// The setup program's own LZMS decoder restores buffers made by Windows.
#include "tests/codec_vectors.h"

#include <gtest/gtest.h>

#include "codec/lzms.h"

TEST(CodecVectors, WindowsBuffersDecodeExactly) {
  for (const WindowsLzmsVector& v : kWindowsLzmsVectors) {
    SCOPED_TRACE(v.name);
    const std::vector<uint8_t> buffer = HexBytes(v.bufferHex);
    const std::vector<uint8_t> expected = v.content();
    std::vector<uint8_t> out(expected.size() + 100, 0xCC);
    size_t actual = 0;
    ASSERT_TRUE(LzmsBufferedDecompress(buffer.data(), buffer.size(), out.data(), out.size(), &actual));
    ASSERT_EQ(actual, expected.size());
    out.resize(actual);
    EXPECT_EQ(out, expected);
  }
}

TEST(CodecVectors, TooSmallOutputIsRefused) {
  const std::vector<uint8_t> buffer = HexBytes(kWindowsLzmsVectors[0].bufferHex);
  std::vector<uint8_t> out(4095);
  size_t actual = 0;
  EXPECT_FALSE(LzmsBufferedDecompress(buffer.data(), buffer.size(), out.data(), out.size(), &actual));
}
