// The LZMS decoder and the container reader against Windows' buffers,
// wimlib's encoder, and damaged input.
#include <gtest/gtest.h>

#include <random>

#include "codec/format.h"
#include "codec/lzms.h"
#include "codec_support.h"
#include "tests/codec_vectors.h"

namespace {

Bytes Decode(const Bytes& stream, size_t size, bool* ok) {
  Bytes out(size);
  *ok = LzmsDecompress(stream.data(), stream.size(), out.data(), out.size());
  return out;
}

TEST(CodecDecode, WindowsBuffersDecodeExactly) {
  for (const WindowsLzmsVector& v : kWindowsLzmsVectors) {
    SCOPED_TRACE(v.name);
    const Bytes buffer = HexBytes(v.bufferHex);
    const Bytes expected = v.content();
    Bytes out(expected.size());
    size_t actual = 0;
    ASSERT_TRUE(LzmsBufferedDecompress(buffer.data(), buffer.size(), out.data(), out.size(), &actual));
    EXPECT_EQ(actual, expected.size());
    EXPECT_EQ(out, expected);
    // The chunk is also a raw stream of its own, which wimlib reads the same way.
    const Bytes chunk(buffer.begin() + 28, buffer.end());
    Bytes theirs;
    ASSERT_TRUE(WimDecompress(chunk, expected.size(), &theirs));
    EXPECT_EQ(theirs, expected);
  }
}

TEST(CodecDecode, RestoresWhatWimlibEncodes) {
  struct Case {
    const char* name;
    Bytes data;
  };
  std::vector<Case> cases = {
      {"text", TextBytes(300000, 1)}, {"random", RandomBytes(70000, 2)}, {"run", Bytes(200000, 0x5A)},
      {"ramp", RampBytes(400000)},    {"tiny", TextBytes(5, 3)},
  };
  // Records of 1 to 32 bytes whose fields each grow by their own step: delta
  // matches of every span the decoder copies in blocks (and the byte tail),
  // at distances below and above a block.
  for (size_t stride : {1, 2, 4, 8, 16, 32}) {
    Bytes records(200003);
    for (size_t i = 0; i < records.size(); ++i)
      records[i] = static_cast<uint8_t>((i / stride) * (3 + 2 * (i % stride)) + (i / 4096));
    cases.push_back({"records", records});
  }
  // Opcode and operand bytes of the translated instructions thrown together:
  // instructions overlapping, back to back, near and far from each other,
  // undone as wimlib's encoder translated them.
  std::mt19937 rng(9);
  const uint8_t soup[] = {0xE8, 0xE9, 0xFF, 0x15, 0xF0, 0x83, 0x05, 0x48, 0x4C, 0x8D, 0x8B, 0x0D, 0x00};
  Bytes instructions(300000);
  for (size_t i = 0; i < instructions.size(); ++i)
    instructions[i] =
        (i / 20000) % 2 ? static_cast<uint8_t>(rng() % 4 ? 0 : rng()) : soup[rng() % sizeof soup];
  cases.push_back({"instruction soup", instructions});
  Bytes pe = SomePeFile(4 << 20);
  if (!pe.empty()) cases.push_back({"x86-64 binary", pe});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = WimCompress(c.data);
    if (stream.empty()) continue;  // wimlib stores what it cannot shrink
    // The x86 translation is undone with the wide scan where the processor
    // has one, and with the 16-byte scan.
    for (const bool wide : {true, false}) {
      SCOPED_TRACE(wide ? "wide scan" : "16-byte scan");
      const bool before = lzms::X86SetWideScan(wide);
      bool ok = false;
      EXPECT_EQ(Decode(stream, c.data.size(), &ok), c.data);
      EXPECT_TRUE(ok);
      lzms::X86SetWideScan(before);
    }
  }
}

TEST(CodecDecode, DamagedStreamsFailOrStayInBounds) {
  const Bytes data = TextBytes(100000, 4);
  const Bytes stream = WimCompress(data);
  ASSERT_FALSE(stream.empty());
  bool ok = true;
  // Too short to start the range decoder, odd sizes.
  for (size_t n : {0, 1, 2, 3, 5}) {
    Bytes out(16);
    EXPECT_FALSE(LzmsDecompress(stream.data(), n, out.data(), out.size())) << n;
  }
  // Truncations never reproduce the data; most are refused outright.
  int refused = 0;
  for (size_t keep : {stream.size() / 2, stream.size() / 4, size_t{4}, size_t{64}}) {
    Bytes cut(stream.begin(), stream.begin() + static_cast<long>(keep & ~size_t{1}));
    Bytes out = Decode(cut, data.size(), &ok);
    EXPECT_FALSE(ok && out == data);
    refused += !ok;
  }
  EXPECT_GT(refused, 0);
  // Flipped bits anywhere: any result, but within the buffer (checked by the
  // sanitizer builds of the fuzzers); a guard after the output stays intact.
  std::mt19937 rng(5);
  for (int i = 0; i < 200; ++i) {
    Bytes bad = stream;
    bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    Bytes out(data.size() + 64, 0xEE);
    LzmsDecompress(bad.data(), bad.size(), out.data(), data.size());
    for (size_t k = data.size(); k < out.size(); ++k) ASSERT_EQ(out[k], 0xEE);
  }
}

}  // namespace
