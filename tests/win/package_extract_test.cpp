#include <gtest/gtest.h>

#include "app/helpers.h"
#include "package/decompressor.h"
#include "package/extract.h"
#include "package_support.h"

namespace {

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallerState.selfPath = temp.path + L"\\setup.exe";
    InstallerState.installDir = temp.path + L"\\install";
    InstallerState.bytesDone = 0;
    SetErrorText(L"");
    SetStatus(L"Préparation…");
  }

  // Writes the setup file and reads its index as the entry point would.
  void Prepare(const std::vector<uint8_t>& package) {
    ASSERT_TRUE(
        WriteFileBytes(InstallerState.selfPath, SetupBytes(std::vector<uint8_t>(1000, 'I'), package)));
    ASSERT_TRUE(ReadPackageIndex());
    InstallerState.bytesDone = 0;
  }

  std::wstring Installed(const std::string& name) {
    return InstallerState.installDir + L"\\" + Utf8ToWide(name);
  }

  void ExpectInstalled(const std::vector<TestEntry>& entries) {
    for (const TestEntry& e : entries) {
      ASSERT_TRUE(FileExists(Installed(e.name))) << e.name;
      EXPECT_EQ(ReadFileBytes(Installed(e.name)), e.content) << e.name;
    }
  }

  TempFolder temp;
};

TEST_F(ExtractTest, OneBlockHoldingAllFilesWritesEveryFileAndCountsTheTotal) {
  std::vector<TestEntry> entries = {{"Norvale-Lockra.exe", Content(100000, 1)},
                                    {"ui\\app.js", Content(5000, 2)},
                                    {"ui\\fonts\\d\xC3\xA9j\xC3\xA0.txt", Content(300, 3)}};
  const auto stream = Concatenate(entries);
  Prepare(PackageBytes("1.0", entries, StoredBlocks(stream, {stream.size()})));
  ASSERT_TRUE(ExtractPayload()) << Narrow(ErrorText());
  ExpectInstalled(entries);
  EXPECT_EQ(InstallerState.bytesDone.load(), stream.size());
  EXPECT_EQ(InstallerState.bytesTotal.load(), stream.size());
  EXPECT_EQ(StatusText(), L"ui\\fonts\\d\u00E9j\u00E0.txt");
  EXPECT_EQ(ErrorText(), L"");
}

TEST_F(ExtractTest, BlockBoundariesInsideFilesContinueTheFileWithTheNextBlock) {
  std::vector<TestEntry> entries = {
      {"Norvale-Lockra.exe", Content(70001, 4)}, {"a.bin", Content(3, 5)}, {"b\\c.bin", Content(9999, 6)}};
  const auto stream = Concatenate(entries);
  // First cut inside the first file, then small blocks of several chunks
  // that start and end in the middle of files.
  std::vector<size_t> cuts = {40000};
  for (int i = 0; i < 20; ++i) cuts.push_back(1777);
  Prepare(PackageBytes("1.0", entries, StoredBlocks(stream, cuts, 500)));
  ASSERT_TRUE(ExtractPayload()) << Narrow(ErrorText());
  ExpectInstalled(entries);
  EXPECT_EQ(InstallerState.bytesDone.load(), stream.size());
}

TEST_F(ExtractTest, EmptyEntriesAreCreatedFirstInARowAndLast) {
  std::vector<TestEntry> entries = {{"empty1", {}}, {"empty2", {}},  {"data\\one", Content(10, 7)},
                                    {"e3", {}},     {"sub\\e4", {}}, {"two", Content(5, 8)},
                                    {"last", {}}};
  const auto stream = Concatenate(entries);
  Prepare(PackageBytes("1.0", entries, StoredBlocks(stream, {12})));
  ASSERT_TRUE(ExtractPayload()) << Narrow(ErrorText());
  ExpectInstalled(entries);
  EXPECT_EQ(StatusText(), L"last");

  // A package of empty files only has no block at all.
  TempFolder other;
  InstallerState.installDir = other.path + L"\\install";
  std::vector<TestEntry> onlyEmpty = {{"x", {}}, {"y\\z", {}}};
  Prepare(PackageBytes("1.0", onlyEmpty, {}));
  ASSERT_TRUE(ExtractPayload()) << Narrow(ErrorText());
  ExpectInstalled(onlyEmpty);
}

TEST_F(ExtractTest, UnsafeNamesFailBeforeAnyFileIsWritten) {
  // ".." anywhere, also inside a word; empty; rooted; drive or stream; control character.
  for (const std::string& bad :
       std::vector<std::string>{"a..b.txt", "..\\evil.txt", "ui\\..", "", "\\rooted.txt", "/rooted.txt",
                                "C:evil.txt", "file.txt:stream", std::string("nul\0x", 5)}) {
    std::vector<TestEntry> entries = {{"Norvale-Lockra.exe", Content(100, 9)}, {bad, Content(10, 10)}};
    const auto stream = Concatenate(entries);
    Prepare(PackageBytes("1.0", entries, StoredBlocks(stream, {})));
    SetErrorText(L"");
    EXPECT_FALSE(ExtractPayload()) << bad;
    EXPECT_EQ(ErrorText(), kDamaged) << bad;
    EXPECT_FALSE(FileExists(InstallerState.installDir)) << bad;
  }
  EXPECT_FALSE(IsSafeEntryName("ui\\a.b\\c..d"));
  EXPECT_TRUE(IsSafeEntryName("ui\\.hidden\\x.txt"));
}

TEST_F(ExtractTest, DamagedEntryTableFailsWithoutWritingAnything) {
  std::vector<TestEntry> entries = {{"one", Content(10, 11)}, {"two", Content(10, 12)}};
  auto package = PackageBytes("1.0", entries, StoredBlocks(Concatenate(entries), {}));
  package[12 + 3 + 8] = 200;                       // entry count far beyond the table
  package.resize(12 + 3 + 8 + 4 + 2 + 3 + 8 + 2);  // cut inside the second entry
  Prepare(package);
  EXPECT_FALSE(ExtractPayload());
  EXPECT_EQ(ErrorText(), kDamaged);
  EXPECT_FALSE(FileExists(InstallerState.installDir));
}

TEST_F(ExtractTest, LockedOutputFileFailsAfterTheRetriesAndNamesTheFileOnly) {
  std::vector<TestEntry> entries = {
      {"first.txt", Content(10, 13)}, {"ui\\locked.txt", Content(10, 14)}, {"after.txt", Content(10, 15)}};
  Prepare(PackageBytes("1.0", entries, StoredBlocks(Concatenate(entries), {})));
  CreateDirectories(InstallerState.installDir + L"\\ui");
  HANDLE lock = CreateFileW(Installed("ui\\locked.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(ExtractPayload());
  const ULONGLONG elapsed = GetTickCount64() - start;
  CloseHandle(lock);
  EXPECT_GE(elapsed, 5000u);
  EXPECT_EQ(ErrorText(),
            L"Impossible d'écrire locked.txt : le fichier est peut-être utilisé. Fermez Norvale Lockra puis "
            L"réessayez.");
  EXPECT_EQ(ReadFileBytes(Installed("first.txt")), entries[0].content);
  EXPECT_FALSE(FileExists(Installed("after.txt")));
}

TEST_F(ExtractTest, RawSizeOfThirtyTwoMebibytesIsTheLargestBlock) {
  std::vector<TestEntry> entries = {{"big.bin", Content(0x2000000, 16)}};
  Prepare(PackageBytes("1.0", entries, StoredBlocks(entries[0].content, {}, 0x2000000)));
  ASSERT_TRUE(ExtractPayload()) << Narrow(ErrorText());
  ExpectInstalled(entries);

  // One byte more is refused before anything is decoded.
  entries[0].content.push_back('z');
  auto blocks = StoredBlocks(entries[0].content, {}, 0x2000001);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].rawSize, 33554433u);
  Prepare(PackageBytes("1.0", entries, blocks));
  EXPECT_FALSE(ExtractPayload());
  EXPECT_EQ(ErrorText(), kDamagedOrFull);
}

TEST_F(ExtractTest, CorruptedBlockFailsAndKeepsTheFilesBeforeIt) {
  std::vector<TestEntry> entries = {
      {"one", Content(1000, 17)}, {"two", Content(1000, 18)}, {"three", Content(1000, 19)}};
  auto blocks = StoredBlocks(Concatenate(entries), {1000, 1000, 1000});
  blocks[1].packed[6] ^= 0x55;  // container check byte
  Prepare(PackageBytes("1.0", entries, blocks));
  EXPECT_FALSE(ExtractPayload());
  EXPECT_EQ(ErrorText(), kDamagedOrFull);
  EXPECT_EQ(ReadFileBytes(Installed("one")), entries[0].content);
  EXPECT_FALSE(FileExists(Installed("three")));

  // A container that decodes to fewer bytes than the block's raw size.
  blocks = StoredBlocks(Concatenate(entries), {1000, 1000, 1000});
  blocks[2].rawSize = 1001;
  blocks[2].packed = StoredContainer(entries[2].content.data(), 999, 65536);
  Prepare(PackageBytes("1.0", entries, blocks));
  EXPECT_FALSE(ExtractPayload());
  EXPECT_EQ(ErrorText(), kDamagedOrFull);
}

TEST_F(ExtractTest, StreamEndingBeforeTheLastEntryIsFullIsADamagedPackage) {
  std::vector<TestEntry> entries = {{"one", Content(100, 20)}, {"two", Content(100, 21)}, {"three", {}}};
  const auto stream = Concatenate(entries);
  // Blocks hold 150 of the 200 bytes: "two" stays short.
  Prepare(PackageBytes("1.0", entries,
                       StoredBlocks(std::vector<uint8_t>(stream.begin(), stream.begin() + 150), {})));
  EXPECT_FALSE(ExtractPayload());
  EXPECT_EQ(ErrorText(), kDamagedOrFull);
  EXPECT_EQ(ReadFileBytes(Installed("one")), entries[0].content);

  // No block at all for a file that is not empty.
  SetErrorText(L"");
  Prepare(PackageBytes("1.0", entries, {}));
  EXPECT_FALSE(ExtractPayload());
  EXPECT_EQ(ErrorText(), kDamagedOrFull);

  // Bytes beyond the entries are decoded and dropped: still whole.
  auto longer = stream;
  longer.resize(stream.size() + 77, 'x');
  Prepare(PackageBytes("1.0", entries, StoredBlocks(longer, {})));
  EXPECT_TRUE(ExtractPayload()) << Narrow(ErrorText());
  ExpectInstalled(entries);
}

TEST_F(ExtractTest, CompressedSizeBeyondThePackageFailsWithoutAllocating) {
  std::vector<TestEntry> entries = {{"one", Content(100, 22)}};
  for (uint32_t extra : {1u, 0xFFFFFF00u}) {
    auto blocks = StoredBlocks(Concatenate(entries), {});
    auto package = PackageBytes("1.0", entries, blocks);
    // The block's compressed size sits 8 bytes before its container.
    const size_t sizeField = package.size() - blocks[0].packed.size() - 4;
    const uint32_t claimed = static_cast<uint32_t>(blocks[0].packed.size()) + extra;
    memcpy(&package[sizeField], &claimed, 4);
    Prepare(package);
    SetErrorText(L"");
    EXPECT_FALSE(ExtractPayload()) << extra;
    EXPECT_EQ(ErrorText(), kDamagedOrFull) << extra;
  }
}

TEST_F(ExtractTest, MissingSetupFileFailsWithoutMessage) {
  InstallerState.selfPath = temp.path + L"\\absent.exe";
  EXPECT_FALSE(ExtractPayload());
  EXPECT_EQ(ErrorText(), L"");
}

// Buffers made by Windows' own compressor: the system path (where cabinet.dll
// has the Compression API) and the built-in decoder restore the same bytes.
TEST(BlockDecompressor, SystemAndBuiltInPathsRestoreWindowsBuffers) {
  struct Vector {
    const char* hex;
    std::vector<uint8_t> expected;
  };
  std::vector<uint8_t> counting(1024), pattern, sevens(64);
  for (int i = 0; i < 1024; ++i) counting[i] = static_cast<uint8_t>(i);
  for (int i = 0; i < 1024; ++i)
    pattern.insert(pattern.end(), {0xde, 0xad, 0xbe, 0xef, 0xca, 0xfe, 0xba, 0xbe});
  for (int i = 0; i < 64; ++i) sevens[i] = static_cast<uint8_t>(i * 7);
  const Vector vectors[] = {
      {"0a51e5c01800da05001000000000000000100000000000000a000000ffaad0ff0000a03a4000",
       std::vector<uint8_t>(4096, 0)},
      {"0a51e5c018002b05000400000000000000040000000000000e000000426bd0ff0000a08ad95a1a020100", counting},
      {"0a51e5c01800590500200000000000000020000000000000120000003813d0bf0000d074817ebebafecaefbeadde",
       pattern},
      {"0a51e5c018005f05004000000000000000400000000000000a000000ffaad0ff0000a0ba4141",
       std::vector<uint8_t>(16384, 0x41)},
      {"0a51e5c018004c05400000000000000040000000000000000e000000036bd066000000601506c60e0700", sevens}};
  for (bool builtIn : {false, true}) {
    BlockDecompressor d;
    OpenBlockDecompressor(&d, builtIn);
    if (builtIn) {
      EXPECT_FALSE(UsesSystemDecompressor(&d));
    }
    for (const Vector& v : vectors) {
      std::vector<uint8_t> in;
      for (const char* p = v.hex; p[0] && p[1]; p += 2)
        in.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
      std::vector<uint8_t> out(v.expected.size());
      size_t actual = 0;
      ASSERT_TRUE(DecompressBlock(&d, in.data(), in.size(), out.data(), out.size(), &actual)) << v.hex;
      EXPECT_EQ(actual, v.expected.size());
      EXPECT_EQ(out, v.expected) << v.hex;
    }
    CloseBlockDecompressor(&d);
  }
}

}  // namespace
