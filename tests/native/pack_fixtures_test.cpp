// The committed fixture setup files that the Windows tests extract: their
// packages read back whole and carry exactly the fixture files.
#include <gtest/gtest.h>

#include "codec/lzms.h"
#include "pack_test_support.h"
#include "tests/fixtures/fixture_content.h"

namespace {

class PackFixtureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(PackFixtureTest, DecodesToTheFixtureFiles) {
  const fs::path file = fs::path(__FILE__).parent_path().parent_path() / "fixtures" / GetParam();
  if (!fs::exists(file) && std::string(GetParam()) != "wimlib-setup.bin") GTEST_SKIP() << "not generated yet";
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(file, &info, &error)) << error;
  ASSERT_TRUE(VerifyPackage(file, info, &error)) << error;
  EXPECT_EQ(info.version, "0.1.69b");
  const std::vector<FixtureFile> files = FixtureFiles();
  ASSERT_EQ(info.entries.size(), files.size());
  std::vector<uint8_t> expected, stream;
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(info.entries[i].name, files[i].name);
    EXPECT_EQ(info.entries[i].size, files[i].content.size());
    expected.insert(expected.end(), files[i].content.begin(), files[i].content.end());
  }
  const auto bytes = ReadBytes(file);
  for (const PackBlockInfo& block : info.blocks) {
    std::vector<uint8_t> raw(block.rawSize);
    size_t actual = 0;
    ASSERT_TRUE(
        LzmsBufferedDecompress(&bytes[block.dataOffset], block.packedSize, raw.data(), raw.size(), &actual));
    stream.insert(stream.end(), raw.begin(), raw.end());
  }
  EXPECT_TRUE(stream == expected);
}

INSTANTIATE_TEST_SUITE_P(Packers, PackFixtureTest,
                         ::testing::Values("wimlib-setup.bin", "norvale-pack-setup.bin"));

}  // namespace
