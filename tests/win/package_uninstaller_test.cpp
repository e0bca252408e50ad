#include <gtest/gtest.h>

#include "app/helpers.h"
#include "package_support.h"

namespace {

std::vector<uint8_t> OwnImage() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return ReadFileBytes(path);
}

uint32_t CertificateEntry(const std::vector<uint8_t>& image) {
  int32_t pe;
  memcpy(&pe, &image[60], 4);
  uint16_t magic;
  memcpy(&magic, &image[pe + 24], 2);
  return static_cast<uint32_t>(pe + 24 + (magic == 0x20B ? 112 : 96) + 32);
}

class UninstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallerState.selfPath = temp.path + L"\\setup.exe";
    InstallerState.installDir = temp.path + L"\\install";
  }

  // Writes the uninstaller of `setup` and returns its bytes.
  std::vector<uint8_t> Uninstaller(const std::vector<uint8_t>& setup) {
    EXPECT_TRUE(WriteFileBytes(InstallerState.selfPath, setup));
    EXPECT_TRUE(ReadPackageIndex());
    EXPECT_TRUE(WriteUninstaller());
    return ReadFileBytes(UninstallerPath());
  }

  std::wstring UninstallerPath() { return InstallerState.installDir + L"\\uninstall.exe"; }

  // The written uninstaller reads as a file without package.
  void ExpectNoPackage() {
    const std::wstring setup = InstallerState.selfPath;
    InstallerState.selfPath = UninstallerPath();
    EXPECT_FALSE(ReadPackageIndex());
    InstallerState.selfPath = setup;
  }

  TempFolder temp;
};

TEST_F(UninstallerTest, UnsignedSetupGivesItsImageByteForByte) {
  const auto image = OwnImage();
  ASSERT_GT(image.size(), 0x100000u);  // more than one copy buffer
  std::vector<TestEntry> entries = {{"Norvale-Lockra.exe", Content(5000, 1)}};
  const auto setup = SetupBytes(image, PackageBytes("2.0", entries, StoredBlocks(Concatenate(entries), {})));
  const auto copy = Uninstaller(setup);
  EXPECT_EQ(copy.size(), image.size());
  EXPECT_TRUE(copy == image);
  ExpectNoPackage();
}

TEST_F(UninstallerTest, SignedSetupLosesItsCertificateEntryAndNothingElse) {
  // A signature laid out as a signer leaves it: 0-7 zero bytes after the
  // trailer, then the table that the PE entry points to, ending the file.
  auto image = OwnImage();
  std::vector<TestEntry> entries = {{"a", Content(77, 2)}};
  auto setup = SetupBytes(image, PackageBytes("2.0", entries, StoredBlocks(Concatenate(entries), {})));
  setup.resize((setup.size() + 7) / 8 * 8, 0);
  const uint32_t table = static_cast<uint32_t>(setup.size()), tableSize = 1024;
  setup.resize(setup.size() + tableSize, 0x5A);
  const uint32_t entry = CertificateEntry(image);
  memcpy(&setup[entry], &table, 4);
  memcpy(&setup[entry + 4], &tableSize, 4);

  const auto copy = Uninstaller(setup);
  ASSERT_EQ(copy.size(), image.size());
  EXPECT_EQ(std::vector<uint8_t>(copy.begin() + entry, copy.begin() + entry + 8), std::vector<uint8_t>(8, 0));
  auto expected = std::vector<uint8_t>(setup.begin(), setup.begin() + image.size());
  std::fill(expected.begin() + entry, expected.begin() + entry + 8, 0);
  EXPECT_TRUE(copy == expected);
  ExpectNoPackage();
}

TEST_F(UninstallerTest, SetupSignedBySignerToolGivesItsUnsignedImage) {
  // Made at build time with a throwaway certificate.
  const auto setup = ReadFileBytes(OutPath(L"..\\win\\fixtures\\signed-setup.exe"));
  if (setup.empty()) GTEST_SKIP() << "no signed setup fixture in this build";
  const auto copy = Uninstaller(setup);
  ASSERT_EQ(copy.size(), InstallerState.payloadOffset);
  const uint32_t entry = CertificateEntry(setup);
  uint32_t table[2];
  memcpy(table, &setup[entry], 8);
  EXPECT_NE(table[0], 0u);  // the setup really was signed
  auto expected = std::vector<uint8_t>(setup.begin(), setup.begin() + copy.size());
  std::fill(expected.begin() + entry, expected.begin() + entry + 8, 0);
  EXPECT_TRUE(copy == expected);
  ExpectNoPackage();
}

TEST_F(UninstallerTest, ReadOnlyUninstallerIsReplaced) {
  CreateDirectories(InstallerState.installDir);
  ASSERT_TRUE(WriteFileBytes(UninstallerPath(), std::vector<uint8_t>(3 * 0x100000 + 5, 'o')));
  ASSERT_TRUE(SetFileAttributesW(UninstallerPath().c_str(), FILE_ATTRIBUTE_READONLY));
  const auto image = OwnImage();
  std::vector<TestEntry> entries = {{"a", Content(10, 3)}};
  const auto copy =
      Uninstaller(SetupBytes(image, PackageBytes("2.0", entries, StoredBlocks(Concatenate(entries), {}))));
  EXPECT_TRUE(copy == image);
}

TEST_F(UninstallerTest, FailsWhenTheSetupOrTheDestinationCannotBeOpened) {
  InstallerState.payloadOffset = 4096;
  InstallerState.selfPath = temp.path + L"\\absent.exe";
  EXPECT_FALSE(WriteUninstaller());
  EXPECT_FALSE(FileExists(UninstallerPath()));

  // A setup file shorter than the recorded package offset: short read.
  InstallerState.selfPath = temp.path + L"\\short.exe";
  ASSERT_TRUE(WriteFileBytes(InstallerState.selfPath, std::vector<uint8_t>(100, 'x')));
  EXPECT_FALSE(WriteUninstaller());
}

}  // namespace
