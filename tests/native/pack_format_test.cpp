#include <gtest/gtest.h>

#include "codec/checksum.h"
#include "codec/lzms.h"
#include "pack_test_support.h"

namespace {

class PackFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stub = dir.path / "stub.exe";
    WriteBytes(stub, MinimalStub());
  }
  TempDir dir;
  fs::path stub;
};

TEST_F(PackFormatTest, WritesHeaderTableBlocksAndTrailerByteForByte) {
  const fs::path input = dir.path / "in";
  const auto exe = Text(70000, 1), app = Text(3000, 2), deep = Text(10, 3);
  WriteBytes(input / "ui" / "app.js", app);
  WriteBytes(input / "zz" / "empty.txt", {});
  WriteBytes(input / "Norvale-Lockra.exe", exe);
  WriteBytes(input / "ui" / "sub" /
                 "d\xC3\xA9"
                 "ep.txt",
             deep);
  const fs::path out = dir.path / "setup.exe";
  ASSERT_EQ(Pack(stub, input, out, "0.1.69b"), 0);

  const auto file = ReadBytes(out);
  const auto image = MinimalStub();
  ASSERT_GT(file.size(), image.size() + 24);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin()));
  size_t at = image.size();
  EXPECT_EQ(std::string(file.begin() + at, file.begin() + at + 4), "HLVX");
  EXPECT_EQ(Le(file, at + 4, 4), 1u);
  EXPECT_EQ(Le(file, at + 8, 4), 7u);
  EXPECT_EQ(std::string(file.begin() + at + 12, file.begin() + at + 19), "0.1.69b");
  const uint64_t total = exe.size() + app.size() + deep.size();
  EXPECT_EQ(Le(file, at + 19, 8), total);
  EXPECT_EQ(Le(file, at + 27, 4), 4u);
  at += 31;
  // The product executable first, then bytewise name order, backslashes.
  const std::vector<std::pair<std::string, uint64_t>> expected = {{"Norvale-Lockra.exe", exe.size()},
                                                                  {"ui\\app.js", app.size()},
                                                                  {"ui\\sub\\d\xC3\xA9"
                                                                   "ep.txt",
                                                                   deep.size()},
                                                                  {"zz\\empty.txt", 0}};
  for (const auto& [name, size] : expected) {
    const size_t length = Le(file, at, 2);
    EXPECT_EQ(std::string(file.begin() + at + 2, file.begin() + at + 2 + length), name);
    EXPECT_EQ(Le(file, at + 2 + length, 8), size) << name;
    at += 2 + length + 8;
  }
  EXPECT_EQ(Le(file, at, 4), 1u);  // one block
  EXPECT_EQ(Le(file, at + 4, 4), total);
  const size_t packed = Le(file, at + 8, 4);
  at += 12;
  // The buffered container: magic, algorithm 5 (LZMS), one chunk for the block.
  const std::vector<uint8_t> magic = {0x0A, 0x51, 0xE5, 0xC0, 0x18, 0x00};
  EXPECT_TRUE(std::equal(magic.begin(), magic.end(), file.begin() + at));
  EXPECT_EQ(file[at + 7], 5);
  EXPECT_EQ(Le(file, at + 8, 8), total);
  EXPECT_EQ(Le(file, at + 16, 8), total);
  std::vector<uint8_t> raw(total);
  size_t actual = 0;
  ASSERT_TRUE(LzmsBufferedDecompress(&file[at], packed, raw.data(), raw.size(), &actual));
  std::vector<uint8_t> stream = exe;
  stream.insert(stream.end(), app.begin(), app.end());
  stream.insert(stream.end(), deep.begin(), deep.end());
  EXPECT_TRUE(raw == stream);
  at += packed;
  // The integrity section: magic, version, block count, head checksum, one
  // entry per block, the stream's SHA-256, the packer settings (level
  // normal) and its own checksum.
  ASSERT_EQ(file.size(), at + 72 + 24 + 24);
  EXPECT_EQ(std::string(file.begin() + at, file.begin() + at + 8), "HLVXSUMS");
  EXPECT_EQ(Le(file, at + 8, 4), 2u);
  EXPECT_EQ(Le(file, at + 12, 4), 1u);
  EXPECT_EQ(Le(file, at + 16, 8), Xxh64(&file[image.size()], at - packed - 8 - image.size()));
  EXPECT_EQ(Le(file, at + 24, 4), total);
  EXPECT_EQ(Le(file, at + 28, 4), packed);
  EXPECT_EQ(Le(file, at + 32, 8), Xxh64(&file[at - packed], packed));
  EXPECT_EQ(Le(file, at + 40, 8), Xxh64(stream.data(), stream.size()));
  uint8_t sha[32];
  Sha256State state;
  Sha256Begin(&state);
  Sha256Update(&state, stream.data(), stream.size());
  Sha256End(&state, sha);
  EXPECT_TRUE(std::equal(sha, sha + 32, file.begin() + at + 48));
  EXPECT_EQ(Le(file, at + 80, 8), 0u);
  EXPECT_EQ(Le(file, at + 88, 8), Xxh64(&file[at], 88));
  at += 96;
  EXPECT_EQ(Le(file, at, 8), image.size());
  EXPECT_EQ(Le(file, at + 8, 8), at - image.size());
  EXPECT_EQ(std::string(file.end() - 8, file.end()), "HLVXPAK1");
}

TEST_F(PackFormatTest, SameInputGivesTheSameBytesWhateverTheThreadsAndCreationOrder) {
  const fs::path a = dir.path / "a", b = dir.path / "b";
  const std::vector<std::string> names = {"x.txt", "B.txt",    "a\\b.txt", "Norvale-Lockra.exe",
                                          "a.txt", "m/n/o.bin"};
  for (size_t i = 0; i < names.size(); ++i) {
    std::string rel = names[i];
    if (rel == "a\\b.txt") rel = "a/b.txt";
    WriteBytes(a / rel, Text(1000 + i, static_cast<uint32_t>(i)));
    const std::string relB =
        names[names.size() - 1 - i] == "a\\b.txt" ? "a/b.txt" : names[names.size() - 1 - i];
    WriteBytes(b / relB, Text(1000 + names.size() - 1 - i, static_cast<uint32_t>(names.size() - 1 - i)));
  }
  ASSERT_EQ(Pack(stub, a, dir.path / "1.exe", "1", {"--threads", "1"}), 0);
  ASSERT_EQ(Pack(stub, b, dir.path / "2.exe", "1", {"--threads", "3"}), 0);
  EXPECT_TRUE(ReadBytes(dir.path / "1.exe") == ReadBytes(dir.path / "2.exe"));

  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(dir.path / "1.exe", &info, &error)) << error;
  std::vector<std::string> order;
  for (const auto& e : info.entries) order.push_back(e.name);
  EXPECT_EQ(order, (std::vector<std::string>{"Norvale-Lockra.exe", "B.txt", "a.txt", "a\\b.txt",
                                             "m\\n\\o.bin", "x.txt"}));
}

// Blocks hold at most 32 MiB: a stream of exactly that is one block, one
// byte more starts a second block of one byte.
TEST_F(PackFormatTest, BlockBoundaryAtThirtyTwoMebibytes) {
  for (uint64_t total : {uint64_t{33554432}, uint64_t{33554433}}) {
    const fs::path input = dir.path / ("in" + std::to_string(total));
    WriteBytes(input / "Norvale-Lockra.exe", std::vector<uint8_t>(total - 3, 'z'));
    WriteBytes(input / "tail.bin", {1, 2, 3});  // the boundary falls inside this file for the larger stream
    const fs::path out = dir.path / ("setup" + std::to_string(total) + ".exe");
    ASSERT_EQ(Pack(stub, input, out, "1", {"--threads", "2"}), 0);
    PackageInfo info;
    std::string error;
    ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
    EXPECT_EQ(info.totalSize, total);
    if (total == 33554432) {
      ASSERT_EQ(info.blocks.size(), 1u);
      EXPECT_EQ(info.blocks[0].rawSize, 33554432u);
    } else {
      ASSERT_EQ(info.blocks.size(), 2u);
      EXPECT_EQ(info.blocks[0].rawSize, 33554432u);
      EXPECT_EQ(info.blocks[1].rawSize, 1u);
    }
    EXPECT_TRUE(VerifyPackage(out, info, &error)) << error;
  }
}

TEST_F(PackFormatTest, EmptyProductGivesAPackageWithoutBlocks) {
  WriteBytes(dir.path / "empty" / "Norvale-Lockra.exe", {});
  ASSERT_EQ(Pack(stub, dir.path / "empty", dir.path / "setup.exe"), 0);
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(dir.path / "setup.exe", &info, &error)) << error;
  ASSERT_EQ(info.entries.size(), 1u);
  EXPECT_EQ(info.entries[0].size, 0u);
  EXPECT_TRUE(info.blocks.empty());
  EXPECT_EQ(RunPackCommand({"verify", (dir.path / "setup.exe").string()}), 0);
}

// A setup file assembled by hand: the minimal stub, a header announcing
// `headerTotal` bytes in entries of the given sizes, the given raw blocks
// (compressed), and the trailer.
std::vector<uint8_t> HandMadeSetup(uint64_t headerTotal, const std::vector<uint64_t>& entrySizes,
                                   const std::vector<std::vector<uint8_t>>& blocks) {
  std::vector<PackInput> files;
  for (size_t i = 0; i < entrySizes.size(); ++i)
    files.push_back({"f" + std::to_string(i), {}, entrySizes[i]});
  std::vector<uint8_t> file = MinimalStub();
  const uint64_t start = file.size();
  const auto head = EncodePackageHead("1", files, headerTotal, static_cast<uint32_t>(blocks.size()));
  file.insert(file.end(), head.begin(), head.end());
  auto put = [&](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) file.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  for (const auto& raw : blocks) {
    const auto packed = LzmsBufferedCompress(raw.data(), raw.size(), 0);
    put(raw.size(), 4);
    put(packed.size(), 4);
    file.insert(file.end(), packed.begin(), packed.end());
  }
  const uint64_t length = file.size() - start;
  put(start, 8);
  put(length, 8);
  file.insert(file.end(), kPackTrailerMagic, kPackTrailerMagic + 8);
  return file;
}

// The header's total, the entry sizes and the blocks must all agree; each
// disagreement is caught by its own check.
TEST_F(PackFormatTest, VerifyHoldsEntriesAndBlocksToTheHeaderTotal) {
  const struct {
    uint64_t total;
    std::vector<uint64_t> entries;
    size_t blockBytes;
    const char* error;  // empty: whole
  } cases[] = {
      {15, {10, 5}, 15, ""},
      {16, {10, 5}, 16, "the entry sizes add up to 15, the header says 16"},
      {15, {10, 5}, 12, "the blocks hold 12 bytes, the entries 15"},
      {15, {10, 5}, 18, "the blocks hold 18 bytes, the entries 15"},
      {4, {UINT64_MAX, 5}, 4, "the entry sizes add up to more than 18446744073709551615 bytes"},
  };
  for (const auto& c : cases) {
    const fs::path file = dir.path / "hand.exe";
    WriteBytes(file, HandMadeSetup(c.total, c.entries, {Text(c.blockBytes, 5)}));
    PackageInfo info;
    std::string error;
    ASSERT_TRUE(ReadPackageInfo(file, &info, &error)) << error;
    EXPECT_EQ(VerifyPackage(file, info, &error), *c.error == 0) << c.error;
    if (*c.error) EXPECT_EQ(error, c.error);
  }
}

// A certificate table may follow the trailer after 0 to 7 bytes of padding
// (the signer aligns it to 8); 8 bytes are too many.
TEST_F(PackFormatTest, TrailerIsFoundUpToSevenBytesBeforeACertificateTable) {
  const auto unsigned_ = HandMadeSetup(3, {3}, {{1, 2, 3}});
  const uint64_t entry = PeCertificateEntryOffset(MinimalStub());
  ASSERT_NE(entry, 0u);
  for (uint32_t padding = 0; padding <= 8; ++padding) {
    auto file = unsigned_;
    file.insert(file.end(), padding, 0);
    const uint64_t table = file.size(), tableSize = 40;
    file.insert(file.end(), tableSize, 0x5A);
    for (int i = 0; i < 4; ++i) {
      file[entry + i] = static_cast<uint8_t>(table >> (8 * i));
      file[entry + 4 + i] = static_cast<uint8_t>(tableSize >> (8 * i));
    }
    const fs::path path = dir.path / ("signed" + std::to_string(padding) + ".exe");
    WriteBytes(path, file);
    ASSERT_EQ(PackSearchEnd(path, file.size()), table);
    PackageInfo info;
    std::string error;
    const bool found = ReadPackageInfo(path, &info, &error);
    if (padding == 8) {
      EXPECT_FALSE(found);
      continue;
    }
    ASSERT_TRUE(found) << padding << ": " << error;
    EXPECT_EQ(info.padding, padding);
    EXPECT_EQ(info.trailerOffset, unsigned_.size() - kPackTrailerSize);
    EXPECT_EQ(info.offset, MinimalStub().size());
  }
}

// Offset and length of the trailer must name exactly the bytes before it.
TEST_F(PackFormatTest, DamagedTrailerIsRefused) {
  const auto good = HandMadeSetup(3, {3}, {{1, 2, 3}});
  const size_t trailer = good.size() - kPackTrailerSize;
  const struct {
    size_t at;  // byte of the trailer to change
    int delta;
  } cases[] = {{0, 1}, {0, -1}, {8, 1}, {8, -1}, {7, 0x40}};
  for (const auto& c : cases) {
    auto bad = good;
    bad[trailer + c.at] = static_cast<uint8_t>(bad[trailer + c.at] + c.delta);
    const fs::path path = dir.path / "damaged.exe";
    WriteBytes(path, bad);
    PackageInfo info;
    std::string error;
    EXPECT_FALSE(ReadPackageInfo(path, &info, &error)) << c.at << " " << c.delta;
    EXPECT_EQ(error, "the trailer does not describe the bytes before it") << c.at << " " << c.delta;
  }
}

}  // namespace
