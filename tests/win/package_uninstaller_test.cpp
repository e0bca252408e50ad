#include <gtest/gtest.h>

#include "app/helpers.h"
#include "app/log.h"
#include "package_format/uninstaller_signature.h"
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
    InstallerState.uninstallerSignatureOffset = InstallerState.uninstallerSignatureSize = 0;
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

// A setup file whose package stores a signature section for `image`
// (covered by a version 3 integrity section), extracted as an install would.
class SignedUninstallerTest : public UninstallerTest {
 protected:
  void SetUp() override {
    UninstallerTest::SetUp();
    OpenLog(temp.path + L"\\log.txt");
  }

  // Writes the setup file; `damage` changes a byte of the section after its
  // checksum was taken.
  void Prepare(const std::vector<uint8_t>& image, const std::vector<uint8_t>& section, bool damage = false) {
    const std::vector<TestEntry> entries = {{"Norvale-Lockra.exe", Content(3000, 4)}};
    const auto stream = Concatenate(entries);
    const auto blocks = StoredBlocks(stream, {});
    auto package = PackageBytes("2.0", entries, blocks);
    const auto integrity = IntegritySection(package, blocks, stream, 3, std::vector<uint8_t>(8, 0), section);
    package.insert(package.end(), section.begin(), section.end());
    if (damage) package[package.size() - 20] ^= 1;
    package.insert(package.end(), integrity.begin(), integrity.end());
    EXPECT_TRUE(WriteFileBytes(InstallerState.selfPath, SetupBytes(image, package)));
    EXPECT_TRUE(ReadPackageIndex());
  }

  std::vector<uint8_t> Uninstaller(const std::vector<uint8_t>& image, const std::vector<uint8_t>& section) {
    Prepare(image, section);
    EXPECT_TRUE(ExtractPayload()) << Narrow(ErrorText());
    EXPECT_TRUE(WriteUninstaller());
    return ReadFileBytes(UninstallerPath());
  }

  std::string Log() {
    const auto bytes = ReadFileBytes(temp.path + L"\\log.txt");
    return std::string(bytes.begin(), bytes.end());
  }
};

std::vector<uint8_t> FakeTable(uint32_t size, uint32_t type = 2) {
  std::vector<uint8_t> table(size, 0xC3);
  const uint32_t head[2] = {size - 3, 0x0200 | type << 16};
  memcpy(table.data(), head, 8);
  return table;
}

TEST_F(SignedUninstallerTest, StoredTableFollowsTheImageWithItsEntryAndChecksum) {
  auto image = OwnImage();
  image.push_back(0x77);  // an image size that needs padding before the table
  const auto table = FakeTable(1040);
  const auto copy = Uninstaller(image, EncodeUninstallerSignature(image.size(), table.data(), 1040));
  const uint32_t tableOffset = static_cast<uint32_t>((image.size() + 7) / 8 * 8);
  ASSERT_EQ(copy.size(), tableOffset + table.size());

  // The image but for its entry and checksum, zeros, then the table.
  uint64_t checksumAt = 0, entryAt = 0;
  ASSERT_TRUE(LocatePeFields(image.data(), image.size(), &checksumAt, &entryAt));
  auto expected = image;
  memcpy(&expected[entryAt], &tableOffset, 4);
  const uint32_t tableSize = 1040;
  memcpy(&expected[entryAt + 4], &tableSize, 4);
  memcpy(&expected[checksumAt], &copy[checksumAt], 4);
  expected.resize(tableOffset, 0);
  expected.insert(expected.end(), table.begin(), table.end());
  EXPECT_TRUE(copy == expected);

  // The checksum is the one the system computes for the file.
  using MapAndSum = DWORD(WINAPI*)(PCWSTR, PDWORD, PDWORD);
  HMODULE imagehlp = LoadLibraryW(L"imagehlp.dll");
  ASSERT_NE(imagehlp, nullptr);
  auto mapAndSum =
      reinterpret_cast<MapAndSum>(reinterpret_cast<void*>(GetProcAddress(imagehlp, "MapFileAndCheckSumW")));
  ASSERT_NE(mapAndSum, nullptr);
  DWORD stored = 0, computed = 0;
  EXPECT_EQ(mapAndSum(UninstallerPath().c_str(), &stored, &computed), 0u);
  EXPECT_EQ(stored, computed);
  EXPECT_NE(computed, 0u);
  FreeLibrary(imagehlp);
  EXPECT_NE(Log().find("uninstall.exe signed: certificate table of 1040 bytes"), std::string::npos) << Log();
  ExpectNoPackage();
}

// A section that does not fit the image is not used: the uninstaller is
// the unsigned image, as without one, and the log says why.
TEST_F(SignedUninstallerTest, UnfitSectionGivesTheUnsignedImage) {
  const auto image = OwnImage();
  const auto table = FakeTable(64), notPkcs7 = FakeTable(64, 1);
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
      {"made for another image size", EncodeUninstallerSignature(image.size() + 8, table.data(), 64)},
      {"not signed data", EncodeUninstallerSignature(image.size(), notPkcs7.data(), 64)},
  };
  for (const auto& [what, section] : cases) {
    EXPECT_TRUE(Uninstaller(image, section) == image) << what;
    EXPECT_NE(Log().find("the package's signature for it is not used"), std::string::npos) << what;
    DeleteFileW((temp.path + L"\\log.txt").c_str());
    OpenLog(temp.path + L"\\log.txt");
  }
}

// The section is covered by the integrity section: a changed byte there
// is a damaged setup file, which installs nothing. So is a table size that
// does not end the section where the integrity section begins (checksum
// made to match): the size says where that section lies.
TEST_F(SignedUninstallerTest, ChangedSectionIsADamagedPackage) {
  const auto image = OwnImage();
  const auto table = FakeTable(64);
  auto cut = EncodeUninstallerSignature(image.size(), table.data(), 64);
  cut[12] = 56;
  for (const auto& [section, damage] :
       {std::pair{EncodeUninstallerSignature(image.size(), table.data(), 64), true}, std::pair{cut, false}}) {
    Prepare(image, section, damage);
    EXPECT_FALSE(ExtractPayload());
    EXPECT_EQ(ErrorText(), kDamaged);
  }
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
