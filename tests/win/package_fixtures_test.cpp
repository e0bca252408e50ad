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

// Relative names of the files under dir, subfolders included.
void ListFiles(const std::wstring& dir, const std::wstring& prefix, std::vector<std::wstring>* names) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListFiles(dir + L"\\" + name, prefix + name + L"\\", names);
    else
      names->push_back(prefix + name);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

// The build's own setup file holds the stand-in product as one block of
// machine code over a megabyte: the files are written while the block
// decodes, its x86 translations undone piece by piece. Every byte must match.
TEST(BuiltSetup, ExtractsTheStandInProductByteForByte) {
  const std::wstring setup = OutPath(L"Norvale-Lockra-Setup.exe"), product = OutPath(L"product");
  std::vector<std::wstring> names;
  ListFiles(product, L"", &names);
  ASSERT_FALSE(names.empty()) << "no stand-in product in " << Narrow(product);
  TempFolder temp;
  InstallerState.selfPath = setup;
  InstallerState.installDir = temp.path + L"\\install";
  ASSERT_TRUE(ReadPackageIndex()) << Narrow(setup);
  InstallerState.bytesDone = 0;
  ASSERT_TRUE(ExtractPayload()) << Narrow(ErrorText());
  uint64_t total = 0;
  for (const std::wstring& name : names) {
    const std::vector<uint8_t> expected = ReadFileBytes(product + L"\\" + name);
    EXPECT_TRUE(ReadFileBytes(InstallerState.installDir + L"\\" + name) == expected) << Narrow(name);
    total += expected.size();
  }
  EXPECT_GT(total, 1u << 20);
  EXPECT_EQ(InstallerState.bytesDone.load(), total);
}

}  // namespace
