// The install record's text: what is written reads back the same, and a
// record that is not whole or names anything outside the folder is not
// believed.
#include <gtest/gtest.h>

#include "system/install_record.h"
#include "system_test_util.h"

using namespace systest;

namespace {

InstallRecord Sample() {
  InstallRecord record;
  record.createdFolder = true;
  record.folders = {L"ui", L"ui\\ic\u00f4nes", L"\u8a9e"};
  record.files = {L"Norvale-Lockra.exe",
                  L"ui\\ic\u00f4nes\\\u00e9t\u00e9.svg",
                  L"\u8a9e\\\u65e5\u672c.txt",
                  L"vide.dat",
                  L"uninstall.exe",
                  kInstallRecordName};
  return record;
}

TEST(InstallRecord, ReadsBackWhatWasWrittenOnDisk) {
  const InstallRecord record = Sample();
  const std::string text = FormatInstallRecord(record);
  EXPECT_EQ(text.substr(0, text.find('\r')), "Norvale Lockra install record, format 1");
  std::wstring dir = FreshFolder(L"relev\u00e9");
  ASSERT_TRUE(WriteInstallRecord(dir, record));
  ASSERT_TRUE(WriteInstallRecord(dir, record)) << "a second write replaces the first";
  const InstallRecord back = ReadInstallRecord(dir);
  ASSERT_TRUE(back.valid);
  EXPECT_TRUE(back.createdFolder);
  EXPECT_EQ(back.folders, record.folders);
  EXPECT_EQ(back.files, record.files);
  EXPECT_EQ(ReadFileText(dir + L"\\" + kInstallRecordName), text);
  // Nothing but the record is left: the temporary name was renamed away.
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*.new").c_str(), &data);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  EXPECT_FALSE(ReadInstallRecord(dir + L"\\absent").valid);
}

TEST(InstallRecord, AnythingButAWholeRecordReadsAsNone) {
  const std::string text = FormatInstallRecord(Sample());
  for (size_t cut = 0; cut < text.size(); ++cut)
    EXPECT_FALSE(ParseInstallRecord(text.substr(0, cut)).valid) << "cut at " << cut;
  ASSERT_TRUE(ParseInstallRecord(text).valid);
  // LF line ends are read too.
  std::string lf;
  for (char c : text)
    if (c != '\r') lf += c;
  EXPECT_TRUE(ParseInstallRecord(lf).valid);

  const std::string head = "Norvale Lockra install record, format 1\nfolder created: no\n";
  const struct {
    const char* what;
    std::string text;
  } refused[] = {
      {"another format", "Norvale Lockra install record, format 2\nfolder created: no\nend: 0\n"},
      {"a count that does not match", head + "file: a.txt\nend: 2\n"},
      {"a line it does not know", head + "delete: a.txt\nend: 1\n"},
      {"a parent reference", head + "file: ..\\profil.txt\nend: 1\n"},
      {"a drive", head + "file: C:\\Windows\\x.dll\nend: 1\n"},
      {"a rooted name", head + "folder: \\Windows\nend: 1\n"},
      {"a name that is not UTF-8", head + "file: \xff\xfe.txt\nend: 1\n"},
      {"an empty name", head + "file: \nend: 1\n"},
      {"no folder line", "Norvale Lockra install record, format 1\nend: 0\n"},
  };
  for (const auto& c : refused) EXPECT_FALSE(ParseInstallRecord(c.text).valid) << c.what;
  EXPECT_TRUE(ParseInstallRecord(head + "file: a.txt\nend: 1\n").valid) << "the control case";
}

TEST(InstallRecord, FoldersToCreateAndMergeIgnoreCase) {
  std::wstring dir = FreshFolder(L"cr\u00e9\u00e9s");
  CreateDirectories(dir + L"\\Existe");
  EXPECT_EQ(FoldersToCreate(dir, {L"a.txt", L"existe\\b.txt", L"ui\\x\\c.txt", L"UI\\d.txt", L"n/e.txt"}),
            (std::vector<std::wstring>{L"ui", L"ui\\x", L"n"}));
  std::vector<std::wstring> names = {L"Norvale-Lockra.exe", L"ui\\a.css"};
  MergeNames(&names, {L"norvale-lockra.EXE", L"UI\\A.css", L"neuf.txt"});
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Norvale-Lockra.exe", L"ui\\a.css", L"neuf.txt"}));
}

}  // namespace
