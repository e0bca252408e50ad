// Finding the appended package: trailer search behind an optional
// certificate table, header checks, and what the reader fills in.
#include <gtest/gtest.h>

#include <cstring>

#include "app/state.h"
#include "package/package.h"
#include "support/test_support.h"

namespace {

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put64(std::vector<uint8_t>& b, uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The running test program is a real PE image to append packages to.
std::vector<uint8_t> OwnImage() {
  wchar_t path[520];
  GetModuleFileNameW(nullptr, path, 520);
  return ReadFileBytes(path);
}

// Appends a header (no entries, no blocks) and the trailer; returns P.
uint64_t AppendPackage(std::vector<uint8_t>& file, const std::string& version, uint32_t format = 1,
                       uint32_t versionLength = UINT32_MAX, uint64_t total = 12345) {
  uint64_t p = file.size();
  const char* magic = "HLVX";
  file.insert(file.end(), magic, magic + 4);
  Put32(file, format);
  Put32(file, versionLength == UINT32_MAX ? static_cast<uint32_t>(version.size()) : versionLength);
  file.insert(file.end(), version.begin(), version.end());
  Put64(file, total);
  Put32(file, 0);  // entries
  Put32(file, 0);  // blocks
  uint64_t length = file.size() - p;
  Put64(file, p);
  Put64(file, length);
  const char* end = "HLVXPAK1";
  file.insert(file.end(), end, end + 8);
  return p;
}

// Points the PE certificate-table entry at a table of `size` bytes appended
// after `padding` zero bytes, as a signing tool lays it out.
void AppendFakeCertificateTable(std::vector<uint8_t>& file, size_t padding, uint32_t size,
                                bool reachEnd = true) {
  file.insert(file.end(), padding, 0);
  uint32_t start = static_cast<uint32_t>(file.size());
  file.insert(file.end(), size, 0xAB);
  int32_t pe;
  memcpy(&pe, file.data() + 60, 4);
  uint16_t magic;
  memcpy(&magic, file.data() + pe + 24, 2);
  size_t entry = pe + 24 + (magic == 0x20B ? 112 : 96) + 32;
  uint32_t declared = reachEnd ? size : size - 16;
  memcpy(file.data() + entry, &start, 4);
  memcpy(file.data() + entry + 4, &declared, 4);
}

struct ReaderTest : ::testing::Test {
  TempFolder temp;
  void SetUp() override {
    InstallerState.payloadOffset = 0;
    InstallerState.version.clear();
    InstallerState.bytesTotal = 0;
  }
  bool Read(const std::vector<uint8_t>& file) {
    InstallerState.selfPath = temp.path + L"\\setup.exe";
    EXPECT_TRUE(WriteFileBytes(InstallerState.selfPath, file));
    return ReadPackageIndex();
  }
};

TEST_F(ReaderTest, UnsignedPackageIsFoundAtTheEndAndFillsTheState) {
  auto file = OwnImage();
  uint64_t p = AppendPackage(file, "0.1.69b", 1, UINT32_MAX, 2536884);
  ASSERT_TRUE(Read(file));
  EXPECT_EQ(InstallerState.payloadOffset, p);
  EXPECT_EQ(InstallerState.version, L"0.1.69b");
  EXPECT_EQ(InstallerState.bytesTotal.load(), 2536884u);
}

TEST_F(ReaderTest, TrailerBeforeACertificateTableIsFoundUpToSevenPaddingBytes) {
  for (size_t padding : {0, 7}) {
    auto file = OwnImage();
    uint64_t p = AppendPackage(file, "1.0");
    AppendFakeCertificateTable(file, padding, 64);
    ASSERT_TRUE(Read(file)) << "padding " << padding;
    EXPECT_EQ(InstallerState.payloadOffset, p);
  }
  auto file = OwnImage();
  AppendPackage(file, "1.0");
  AppendFakeCertificateTable(file, 8, 64);
  EXPECT_FALSE(Read(file));
}

TEST_F(ReaderTest, CertificateEntryThatDoesNotReachTheEndIsIgnored) {
  auto file = OwnImage();
  AppendPackage(file, "1.0");
  AppendFakeCertificateTable(file, 0, 64, /*reachEnd=*/false);
  EXPECT_FALSE(Read(file));  // the search starts at the file's end, where no trailer is

  auto plain = OwnImage();
  AppendPackage(plain, "1.0");
  HANDLE h = nullptr;
  ASSERT_TRUE(Read(plain));
  h = CreateFileW(InstallerState.selfPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                  nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(PackageSearchEnd(h, plain.size()), plain.size());
  EXPECT_NE(CertificateEntryOffset(h), 0u);
  CloseHandle(h);
}

TEST_F(ReaderTest, HeaderChecks) {
  {
    auto file = OwnImage();
    AppendPackage(file, "1.0", 2);
    EXPECT_FALSE(Read(file)) << "format 2";
  }
  {
    auto file = OwnImage();
    AppendPackage(file, std::string(63, '7'));
    ASSERT_TRUE(Read(file)) << "version of 63 bytes";
    EXPECT_EQ(InstallerState.version.size(), 63u);
  }
  {
    auto file = OwnImage();
    AppendPackage(file, std::string(64, '7'));
    EXPECT_FALSE(Read(file)) << "version of 64 bytes";
  }
  {
    auto file = OwnImage();
    AppendPackage(file, "");
    ASSERT_TRUE(Read(file));
    EXPECT_EQ(InstallerState.version, L"");
  }
  {
    auto file = OwnImage();
    uint64_t p = AppendPackage(file, "1.0");
    file[p] = 'X';
    EXPECT_FALSE(Read(file)) << "bad magic";
    EXPECT_EQ(InstallerState.payloadOffset, p) << "the trailer's offset is kept";
  }
}

// The package length is exactly the bytes from the header to the trailer:
// one that ends sooner (where an integrity section begins) or later, or a
// header after the trailer, is a damaged setup file, neither an installer
// nor an uninstaller.
TEST_F(ReaderTest, PackageLengthIsExact) {
  auto image = OwnImage();
  const uint64_t p = AppendPackage(image, "1.0");
  const uint64_t length = image.size() - 24 - p;
  const struct {
    uint64_t offset, length;
    bool package;
  } cases[] = {
      {p, length, true},      {p, length - 1, false},
      {p, length - 8, false}, {p, 0, false},
      {p, length + 1, false}, {p, UINT64_MAX, false},
      {p + 1, length, false}, {image.size() - 23, UINT64_MAX - length + 1, false},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> file = image;
    for (int i = 0; i < 8; ++i) {
      file[file.size() - 24 + i] = static_cast<uint8_t>(c.offset >> (8 * i));
      file[file.size() - 16 + i] = static_cast<uint8_t>(c.length >> (8 * i));
    }
    EXPECT_EQ(Read(file), c.package) << c.offset << " " << c.length;
    if (!c.package) {
      EXPECT_TRUE(CarriesUnreadablePackage()) << c.offset << " " << c.length;
    }
  }
}

TEST_F(ReaderTest, FilesWithoutPackage) {
  EXPECT_FALSE(Read(OwnImage()));
  EXPECT_FALSE(Read(std::vector<uint8_t>(24, 'x')));
  InstallerState.selfPath = temp.path + L"\\missing.exe";
  EXPECT_FALSE(ReadPackageIndex());
  // A version byte above 0x7F becomes one UTF-16 unit of the same value.
  auto file = OwnImage();
  AppendPackage(file, "v\xE9");
  ASSERT_TRUE(Read(file));
  EXPECT_EQ(InstallerState.version, std::wstring(L"v\u00E9"));
}

TEST_F(ReaderTest, SignedSetupFileIsFoundThroughItsCertificateTable) {
  // Made at build time: the stub with a package, signed with a throwaway
  // self-signed certificate.
  std::wstring signedFile = OutPath(L"..\\win\\fixtures\\signed-setup.exe");
  auto bytes = ReadFileBytes(signedFile);
  ASSERT_FALSE(bytes.empty()) << Narrow(signedFile);
  ASSERT_TRUE(Read(bytes));
  EXPECT_EQ(InstallerState.version, L"9.8.7");
  HANDLE h = CreateFileW(InstallerState.selfPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint64_t end = PackageSearchEnd(h, bytes.size());
  CloseHandle(h);
  EXPECT_LT(end, bytes.size());
  EXPECT_LE(end - (InstallerState.payloadOffset + 0), bytes.size());
  // The trailer ends 0-7 bytes before the table.
  uint64_t p = InstallerState.payloadOffset;
  uint64_t length;
  size_t t = 0;
  for (; t < 8; ++t)
    if (memcmp(bytes.data() + end - t - 8, "HLVXPAK1", 8) == 0) break;
  ASSERT_LT(t, 8u);
  memcpy(&length, bytes.data() + end - t - 16, 8);
  EXPECT_EQ(p + length + 24, end - t);
}

TEST(Utf8ToWide, ConvertsAndReplacesInvalidSequences) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide("ui\\\xC3\xA9t\xC3\xA9.txt"), L"ui\\\u00E9t\u00E9.txt");
  EXPECT_EQ(Utf8ToWide("a\xFF"
                       "b"),
            L"a\uFFFDb");
}

}  // namespace
