#include <gtest/gtest.h>

#include "app/helpers.h"
#include "package/extract.h"
#include "package_support.h"
#include "tests/name_cases.h"

namespace {

// Packages that another tool could have made: the setup program itself must
// refuse names that Windows would not create as given.
class EntryNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallerState.selfPath = temp.path + L"\\setup.exe";
    InstallerState.installDir = temp.path + L"\\install";
    SetErrorText(L"");
  }

  void Prepare(const std::vector<TestEntry>& entries) {
    const auto stream = Concatenate(entries);
    ASSERT_TRUE(WriteFileBytes(
        InstallerState.selfPath,
        SetupBytes(std::vector<uint8_t>(1000, 'I'), PackageBytes("1.0", entries, StoredBlocks(stream, {})))));
    ASSERT_TRUE(ReadPackageIndex());
    InstallerState.bytesDone = 0;
  }

  TempFolder temp;
};

TEST_F(EntryNameTest, RefusedNamesFailAsDamagedBeforeAnyFileIsWritten) {
  uint32_t seed = 1;
  for (const NameCase& c : EntryNameCases()) {
    if (c.installable) continue;
    // The refused name comes last, so that every other file could be written first.
    Prepare({{"Norvale-Lockra.exe", Content(100, seed)},
             {"ui\\a.txt", Content(10, seed + 1)},
             {c.name, Content(10, seed + 2)}});
    seed += 3;
    SetErrorText(L"");
    EXPECT_FALSE(IsSafeEntryName(c.name)) << Narrow(Utf8ToWide(c.name));
    EXPECT_FALSE(ExtractPayload()) << Narrow(Utf8ToWide(c.name));
    EXPECT_EQ(ErrorText(), kDamaged) << Narrow(Utf8ToWide(c.name));
    EXPECT_FALSE(FileExists(InstallerState.installDir)) << Narrow(Utf8ToWide(c.name));
  }
}

TEST_F(EntryNameTest, EntriesThatWindowsSeesAsOneFileFailAsDamaged) {
  const struct {
    std::vector<std::string> names;
    bool collide;
  } cases[] = {
      {{"README.txt", "Readme.txt"}, true},
      {{"same.txt", "same.txt"}, true},
      {{"x", "X\\y"}, true},
      {{"x\\y", "x"}, true},
      {{"Docs\\a.txt", "docs\\A.TXT"}, true},
      {{"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89"}, true},  // Été, éTÉ
      {{"\xCE\xA3", "\xCF\x83"}, true},                    // Σ, σ
      // One folder under two spellings holds two different files: nothing is lost.
      {{"Docs\\a.txt", "docs\\b.txt"}, false},
      {{"a.txt", "a.txt.bak", "a\\txt"}, false},
      {{"stra\xC3\x9F"
        "e",
        "STRASSE"},
       false},  // ß stays ß
  };
  uint32_t seed = 200;
  for (const auto& c : cases) {
    TempFolder folder;
    InstallerState.installDir = folder.path + L"\\install";
    std::vector<TestEntry> entries;
    for (const std::string& name : c.names) entries.push_back({name, Content(10, seed++)});
    Prepare(entries);
    SetErrorText(L"");
    const std::string shown = Narrow(Utf8ToWide(c.names[0] + " " + c.names[1]));
    EXPECT_EQ(ExtractPayload(), !c.collide) << shown;
    EXPECT_EQ(ErrorText(), c.collide ? kDamaged : L"") << shown;
    EXPECT_EQ(FileExists(InstallerState.installDir), !c.collide) << shown;
  }
}

TEST_F(EntryNameTest, NamesCloseToTheRulesAreWrittenAsGiven) {
  std::vector<TestEntry> entries;
  uint32_t seed = 100;
  for (const NameCase& c : EntryNameCases())
    if (c.installable) entries.push_back({c.name, Content(20, seed++)});
  Prepare(entries);
  ASSERT_TRUE(ExtractPayload()) << Narrow(ErrorText());
  for (const TestEntry& e : entries) {
    const std::wstring path = InstallerState.installDir + L"\\" + Utf8ToWide(e.name);
    EXPECT_TRUE(IsSafeEntryName(e.name)) << Narrow(Utf8ToWide(e.name));
    EXPECT_EQ(ReadFileBytes(path), e.content) << Narrow(Utf8ToWide(e.name));
  }
}

}  // namespace
