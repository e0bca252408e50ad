// The integrity section read by the extraction: the head and the section are
// checked before anything is written, every block as it is decoded; any
// mismatch is the damaged-installer failure.
#include <gtest/gtest.h>

#include "app/helpers.h"
#include "package/extract.h"
#include "package_support.h"

namespace {

class IntegrityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    entries = {{"Norvale-Lockra.exe", Content(3000, 31)},
               {"ui\\two.txt", Content(2500, 32)},
               {"ui\\three.txt", Content(1500, 33)}};
    stream = Concatenate(entries);
    blocks = StoredBlocks(stream, {2000, 2000, 2000, 1000}, 700);
    package = PackageBytes("1.0", entries, blocks);
    section = IntegritySection(package, blocks, stream);
  }

  // Writes the setup file (package, then section) and extracts it.
  bool Extract(const std::vector<uint8_t>& packageBytes, const std::vector<uint8_t>& sectionBytes) {
    InstallerState.selfPath = temp.path + L"\\setup.exe";
    InstallerState.installDir = temp.path + L"\\install";
    std::vector<uint8_t> whole = packageBytes;
    whole.insert(whole.end(), sectionBytes.begin(), sectionBytes.end());
    EXPECT_TRUE(WriteFileBytes(InstallerState.selfPath, SetupBytes(std::vector<uint8_t>(1000, 'I'), whole)));
    EXPECT_TRUE(ReadPackageIndex());
    InstallerState.bytesDone = 0;
    SetErrorText(L"");
    return ExtractPayload();
  }

  // Where block b's stored data starts in the package (after its 8-byte
  // header, the container's 24-byte header and the first chunk's size).
  size_t BlockData(size_t b) {
    size_t at = package.size();
    for (size_t i = blocks.size(); i-- > b;) at -= blocks[i].packed.size() + (i > b ? 8 : 0);
    return at + 24 + 4;
  }

  TempFolder temp;
  std::vector<TestEntry> entries;
  std::vector<uint8_t> stream, package, section;
  std::vector<TestBlock> blocks;
};

TEST_F(IntegrityTest, WholePackageWithTheSectionExtracts) {
  ASSERT_TRUE(Extract(package, section)) << Narrow(ErrorText());
  for (const TestEntry& e : entries)
    EXPECT_EQ(ReadFileBytes(InstallerState.installDir + L"\\" + Utf8ToWide(e.name)), e.content) << e.name;
  EXPECT_EQ(InstallerState.bytesDone.load(), stream.size());
}

// A stored chunk decodes without any error whatever its bytes: only the
// checksum sees that block 3 now holds other bytes, and the earlier blocks'
// files do not make the extraction a success.
TEST_F(IntegrityTest, BlockDecodingWithoutErrorToOtherBytesIsRefused) {
  for (size_t b : {0, 2, 3}) {
    auto bad = package;
    bad[BlockData(b) + 5] ^= 0x20;
    EXPECT_FALSE(Extract(bad, section)) << b;
    EXPECT_EQ(ErrorText(), kDamaged) << b;
  }
  // The same package without its section installs these other bytes, as
  // before the section existed.
  auto bad = package;
  bad[BlockData(2) + 5] ^= 0x20;
  EXPECT_TRUE(Extract(bad, {})) << Narrow(ErrorText());
}

// Damage to the head or to the section: refused before any file is created.
TEST_F(IntegrityTest, DamagedHeadOrSectionFailsBeforeAnythingIsWritten) {
  const size_t name = 12 + 3 + 8 + 4 + 2;  // first byte of the first entry's name
  const size_t s = 0;                      // offsets inside the section
  const struct {
    const char* what;
    bool inSection;
    size_t at;
    uint8_t change;
  } cases[] = {
      {"version text", false, 12, 0x01},
      {"entry name, still a valid one", false, name, 0x20},
      {"entry size", false, name + 18, 0x01},
      {"section magic", true, s + 3, 0x01},
      {"section version", true, s + 8, 0x02},
      {"section block count", true, s + 12, 0x01},
      {"head checksum", true, s + 16, 0x01},
      {"a block's raw size", true, s + 24, 0x01},
      {"a block's compressed size", true, s + 24 + 24 + 4, 0x01},
      {"a block's checksum", true, s + 24 + 16, 0x80},
      {"stream hash", true, section.size() - 17, 0x01},
      {"packer settings", true, section.size() - 16, 0x01},
      {"the section's own checksum", true, section.size() - 1, 0x01},
  };
  for (const auto& c : cases) {
    auto p = package, q = section;
    (c.inSection ? q : p)[c.at] ^= c.change;
    EXPECT_FALSE(Extract(p, q)) << c.what;
    EXPECT_EQ(ErrorText(), kDamaged) << c.what;
    EXPECT_FALSE(FileExists(InstallerState.installDir)) << c.what;
  }
  // A section one byte short or one byte long, or cut to its first bytes.
  for (size_t size : {section.size() - 1, section.size() + 1, size_t{8}}) {
    auto q = section;
    q.resize(size, 0);
    EXPECT_FALSE(Extract(package, q)) << size;
    EXPECT_EQ(ErrorText(), kDamaged) << size;
    EXPECT_FALSE(FileExists(InstallerState.installDir)) << size;
  }
}

// Sections whose own checksum matches: one from before the packer recorded
// its settings installs, as does one packed at level max; settings other
// than a known level, or a version field that does not fit the layout, are
// damage.
TEST_F(IntegrityTest, SectionVersionsAndPackerSettings) {
  const std::vector<uint8_t> none, zero(8, 0);
  const struct {
    const char* what;
    uint32_t version;
    std::vector<uint8_t> settings;
    bool installs;
  } cases[] = {
      {"version 1, without settings", 1, none, true},
      {"version 2 at level max", 2, {1, 0, 0, 0, 0, 0, 0, 0}, true},
      {"a level above max", 2, {2, 0, 0, 0, 0, 0, 0, 0}, false},
      {"the second settings byte set", 2, {0, 1, 0, 0, 0, 0, 0, 0}, false},
      {"the last settings byte set", 2, {1, 0, 0, 0, 0, 0, 0, 0x80}, false},
      {"version 1 with settings", 1, zero, false},
      {"version 2 without settings", 2, none, false},
      {"version 3", 3, zero, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Extract(package, IntegritySection(package, blocks, stream, c.version, c.settings)), c.installs)
        << c.what;
    if (c.installs) {
      EXPECT_EQ(InstallerState.bytesDone.load(), stream.size()) << c.what;
      RemoveTree(InstallerState.installDir);
    } else {
      EXPECT_EQ(ErrorText(), kDamaged) << c.what;
      EXPECT_FALSE(FileExists(InstallerState.installDir)) << c.what;
    }
  }
}

}  // namespace

// A setup file damaged in its trailer or its header reads as package-less,
// but is not taken for an uninstaller (which would remove the folder it was
// saved in): it shows where its package was, and its extraction refuses it.
TEST(DamagedSetupFile, IsNoUninstaller) {
  TempFolder temp;
  const std::vector<uint8_t> stub = ReadFileBytes(OutPath(L"setup-stub.exe"));  // with its symbol tables
  ASSERT_FALSE(stub.empty());
  std::vector<TestEntry> entries = {{"Norvale-Lockra.exe", Content(500, 41)}};
  const auto whole = SetupBytes(stub, PackageBytes("1.0", entries, StoredBlocks(Concatenate(entries), {})));
  const size_t p = stub.size(), trailer = whole.size() - 24;
  std::vector<uint8_t> padded = stub;
  padded.resize(stub.size() + 7, 0);
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    size_t at;  // byte changed, or 0
    bool damaged;
  } cases[] = {
      {"the stub alone, an uninstaller", stub, 0, false},
      {"the stub and up to 7 bytes of padding", padded, 0, false},
      {"header magic", whole, p + 1, true},
      {"header format", whole, p + 4, true},
      {"version length", whole, p + 8, true},
      {"trailer magic", whole, trailer + 20, true},
      {"trailer package offset", whole, trailer + 2, true},
  };
  InstallerState.installDir = temp.path + L"\\install";
  for (const auto& c : cases) {
    std::vector<uint8_t> file = c.file;
    if (c.at) file[c.at] ^= 0x5A;
    InstallerState.selfPath = temp.path + L"\\setup.exe";
    ASSERT_TRUE(WriteFileBytes(InstallerState.selfPath, file));
    EXPECT_FALSE(ReadPackageIndex()) << c.what;
    EXPECT_EQ(CarriesUnreadablePackage(), c.damaged) << c.what;
    if (!c.damaged) continue;
    SetErrorText(L"");
    EXPECT_FALSE(ExtractPayload()) << c.what;
    EXPECT_EQ(ErrorText(), kDamaged) << c.what;
    EXPECT_FALSE(FileExists(InstallerState.installDir)) << c.what;
  }
}
