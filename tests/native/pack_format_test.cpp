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
  // entry per block, the stream's SHA-256 and its own checksum.
  ASSERT_EQ(file.size(), at + 64 + 24 + 24);
  EXPECT_EQ(std::string(file.begin() + at, file.begin() + at + 8), "HLVXSUMS");
  EXPECT_EQ(Le(file, at + 8, 4), 1u);
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
  EXPECT_EQ(Le(file, at + 80, 8), Xxh64(&file[at], 80));
  at += 88;
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

TEST_F(PackFormatTest, EmptyFolderGivesAPackageWithoutBlocks) {
  fs::create_directories(dir.path / "empty");
  ASSERT_EQ(Pack(stub, dir.path / "empty", dir.path / "setup.exe"), 0);
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(dir.path / "setup.exe", &info, &error)) << error;
  EXPECT_TRUE(info.entries.empty());
  EXPECT_TRUE(info.blocks.empty());
  EXPECT_EQ(RunPackCommand({"verify", (dir.path / "setup.exe").string()}), 0);
}

}  // namespace
