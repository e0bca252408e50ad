// Setup files made outside this program: blocks compressed by wimlib (an
// independent LZMS encoder, several chunks per block as Windows cuts them)
// and by norvale-pack. Both must extract to the same files.
#include <gtest/gtest.h>

#include "app/helpers.h"
#include "package_support.h"
#include "tests/fixtures/fixture_content.h"

namespace {

class FixtureTest : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(FixtureTest, ExtractsTheFixtureFiles) {
  const std::wstring setup = SourcePath(std::wstring(L"tests\\fixtures\\") + GetParam());
  if (!FileExists(setup) && std::wstring(GetParam()) != L"wimlib-setup.bin")
    GTEST_SKIP() << "not generated yet: " << Narrow(setup);
  TempFolder temp;
  InstallerState.selfPath = setup;
  InstallerState.installDir = temp.path + L"\\install";
  ASSERT_TRUE(ReadPackageIndex()) << Narrow(setup);
  EXPECT_EQ(InstallerState.version, L"0.1.69b");
  InstallerState.bytesDone = 0;
  ASSERT_TRUE(ExtractPayload()) << Narrow(ErrorText());
  uint64_t total = 0;
  for (const FixtureFile& f : FixtureFiles()) {
    const std::wstring path = InstallerState.installDir + L"\\" + Utf8ToWide(f.name);
    ASSERT_TRUE(FileExists(path)) << f.name;
    EXPECT_TRUE(ReadFileBytes(path) == f.content) << f.name;
    total += f.content.size();
  }
  EXPECT_EQ(InstallerState.bytesDone.load(), total);
  EXPECT_EQ(InstallerState.bytesTotal.load(), total);
}

INSTANTIATE_TEST_SUITE_P(Packers, FixtureTest,
                         ::testing::Values(L"wimlib-setup.bin", L"norvale-pack-setup.bin"));

}  // namespace
