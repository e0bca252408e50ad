// Loading the embedded images and fonts, with all resources and with some
// removed from a copy of this program, and the silent path that must leave
// GDI+ alone.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/launch.h"
#include "support/test_support.h"
#include "system/install_record.h"
#include "toolkit/draw.h"
#include "toolkit/icons.h"
#include "toolkit_env.h"

namespace {

const auto* const gdiplusEnvironment = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

std::wstring FamilyName(const Gdiplus::FontFamily* family) {
  if (family == nullptr) return L"(none)";
  WCHAR name[LF_FACESIZE] = {};
  if (family->GetLastStatus() != Gdiplus::Ok || family->GetFamilyName(name) != Gdiplus::Ok)
    return L"(unusable)";
  return name;
}

std::wstring ImageInfo(Gdiplus::Bitmap* image) {
  if (image == nullptr) return L"none";
  wchar_t text[64];
  swprintf(text, 64, L"%ux%u %X", image->GetWidth(), image->GetHeight(), image->GetPixelFormat());
  return text;
}

std::wstring Report() {
  return FamilyName(displayFamily) + L"\n" + FamilyName(displayMediumFamily) + L"\n" +
         FamilyName(bodyFamily) + L"\n" + FamilyName(monoFamily) + L"\n" + ImageInfo(logoImage) + L"\n" +
         ImageInfo(brandImage) + L"\n";
}

std::wstring SelfPath() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// Runs this program again as a child with NORVALE_TOOLKIT_CHILD=mode, running
// only the test named `test`, which writes its findings to `out`.
int RunChild(const std::wstring& exe, const std::wstring& mode, const std::wstring& test,
             const std::wstring& out) {
  SetEnvironmentVariableW(L"NORVALE_TOOLKIT_CHILD", mode.c_str());
  SetEnvironmentVariableW(L"NORVALE_TOOLKIT_OUT", out.c_str());
  const int code = RunAndWait(L"\"" + exe + L"\" --gtest_filter=" + test, 120000);
  SetEnvironmentVariableW(L"NORVALE_TOOLKIT_CHILD", nullptr);
  SetEnvironmentVariableW(L"NORVALE_TOOLKIT_OUT", nullptr);
  return code;
}

std::wstring ChildOut() {
  wchar_t value[MAX_PATH] = {};
  GetEnvironmentVariableW(L"NORVALE_TOOLKIT_OUT", value, MAX_PATH);
  return value;
}

void WriteText(const std::wstring& path, const std::wstring& text) {
  const std::string utf8 = Narrow(text);
  WriteFileBytes(path, std::vector<uint8_t>(utf8.begin(), utf8.end()));
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every resource of this program, for rewriting them into a copy.
struct Resource {
  std::wstring type;  // "#n" for an integer type
  std::wstring name;  // "#n" for an integer id
  WORD language;
  const void* data;
  DWORD size;
};

std::wstring ResourceKey(LPCWSTR value) {
  return IS_INTRESOURCE(value) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(value)) : value;
}

LPCWSTR ResourceArg(const std::wstring& key) {
  return key[0] == L'#' ? MAKEINTRESOURCEW(std::stoul(key.substr(1))) : key.c_str();
}

BOOL CALLBACK OnResourceLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
  HRSRC info = FindResourceExW(module, type, name, language);
  HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
  if (loaded != nullptr) {
    reinterpret_cast<std::vector<Resource>*>(param)->push_back(
        {ResourceKey(type), ResourceKey(name), language, LockResource(loaded), SizeofResource(module, info)});
  }
  return TRUE;
}

BOOL CALLBACK OnResourceName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  EnumResourceLanguagesW(module, type, name, OnResourceLanguage, param);
  return TRUE;
}

BOOL CALLBACK OnResourceType(HMODULE module, LPWSTR type, LONG_PTR param) {
  EnumResourceNamesW(module, type, OnResourceName, param);
  return TRUE;
}

std::vector<Resource> OwnResources() {
  std::vector<Resource> all;
  EnumResourceTypesW(GetModuleHandleW(nullptr), OnResourceType, reinterpret_cast<LONG_PTR>(&all));
  return all;
}

// A copy of this program without the RT_RCDATA resources `ids`. Deleting a
// single resource with UpdateResourceW(..., NULL, 0) leaves it in place under
// Wine, so the copy's resources are all rewritten, less those ids.
bool CopyWithout(const std::wstring& copy, std::initializer_list<uint16_t> ids) {
  if (!CopyFileW(SelfPath().c_str(), copy.c_str(), FALSE)) return false;
  const std::vector<Resource> resources = OwnResources();
  HANDLE update = BeginUpdateResourceW(copy.c_str(), TRUE);
  if (update == nullptr) return false;
  bool ok = !resources.empty();
  for (const Resource& r : resources) {
    bool dropped = false;
    for (uint16_t id : ids) dropped = dropped || (r.type == L"#10" && r.name == L"#" + std::to_wstring(id));
    if (dropped) continue;
    ok = ok && UpdateResourceW(update, ResourceArg(r.type), ResourceArg(r.name), r.language,
                               const_cast<void*>(r.data), r.size);
  }
  if (!EndUpdateResourceW(update, !ok) || !ok) return false;
  // Check the copy really lost them and kept the others.
  HMODULE image =
      LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (image == nullptr) return false;
  bool gone = true;
  for (uint16_t id : ids) gone = gone && FindResourceW(image, MAKEINTRESOURCEW(id), RT_RCDATA) == nullptr;
  const bool othersKept = FindResourceW(image, MAKEINTRESOURCEW(101), RT_RCDATA) != nullptr;
  FreeLibrary(image);
  return gone && othersKept;
}

// Child side of the tests below: reports what LoadEmbeddedAssets made.
TEST(AssetsChild, ReportLoadedAssets) {
  if (ChildMode() != L"report") GTEST_SKIP() << "runs only as a child";
  WriteText(ChildOut(), Report());
}

// Child side of the silent test: the silent uninstall of an empty folder,
// then whether gdiplus.dll was ever loaded into the process.
TEST(AssetsChild, SilentRun) {
  if (ChildMode() != L"silent") GTEST_SKIP() << "runs only as a child";
  const bool loadedBefore = GetModuleHandleW(L"gdiplus.dll") != nullptr;
  TempFolder folder;
  // A folder the product made, so that the uninstall really runs.
  InstallRecord record;
  record.createdFolder = true;
  WriteInstallRecord(folder.path, record);
  const std::wstring line = L"setup.exe /S /uninstall /dir=\"" + folder.path + L"\"";
  const int code = RunSetup(line.c_str());
  const bool loadedAfter = GetModuleHandleW(L"gdiplus.dll") != nullptr;
  // The statics of the toolkit are plain values, usable without GDI+.
  const bool staticsReady =
      colorAccent.GetValue() == 0xFFEC4899 && iconCheck.size() == 1 && !BadgeText().empty();
  WriteText(ChildOut(), std::to_wstring(loadedBefore) + L"\n" + std::to_wstring(loadedAfter) + L"\n" +
                            std::to_wstring(code) + L"\n" + std::to_wstring(staticsReady) + L"\n");
}

class EmbeddedAssets : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ChildMode().empty()) GTEST_SKIP() << "parent-only test";
    if (!HasEmbeddedResources()) GTEST_SKIP() << "no resources compiled into this test program";
  }
};

TEST_F(EmbeddedAssets, FamiliesComeFromThePrivateCollection) {
  EXPECT_EQ(FamilyName(displayFamily), L"Space Grotesk Light");
  EXPECT_EQ(FamilyName(displayMediumFamily), L"Space Grotesk Light Medium");
  EXPECT_EQ(FamilyName(bodyFamily), L"Inter");
  EXPECT_EQ(FamilyName(monoFamily), L"JetBrains Mono");
  // The styles drawn with each family exist in it.
  EXPECT_TRUE(displayFamily->IsStyleAvailable(Gdiplus::FontStyleBold));
  EXPECT_TRUE(bodyFamily->IsStyleAvailable(Gdiplus::FontStyleRegular));
  EXPECT_TRUE(bodyFamily->IsStyleAvailable(Gdiplus::FontStyleBold));
  EXPECT_TRUE(monoFamily->IsStyleAvailable(Gdiplus::FontStyleRegular));
  EXPECT_EQ(privateFonts->GetFamilyCount(), 4);
}

TEST_F(EmbeddedAssets, ImagesArePremultipliedAtTheirOwnSize) {
  ASSERT_NE(logoImage, nullptr);
  ASSERT_NE(brandImage, nullptr);
  EXPECT_EQ(logoImage->GetWidth(), 256u);
  EXPECT_EQ(logoImage->GetHeight(), 256u);
  EXPECT_EQ(brandImage->GetWidth(), 600u);
  EXPECT_EQ(brandImage->GetHeight(), 940u);
  EXPECT_EQ(logoImage->GetPixelFormat(), static_cast<Gdiplus::PixelFormat>(PixelFormat32bppPARGB));
  EXPECT_EQ(brandImage->GetPixelFormat(), static_cast<Gdiplus::PixelFormat>(0xE200B));
  // The brand image has no alpha: every pixel of the copy is opaque.
  EXPECT_EQ(PixelOf(brandImage, 0, 0).GetA(), 255);
  EXPECT_EQ(PixelOf(brandImage, 599, 939).GetA(), 255);
  EXPECT_EQ(LoadResourceImage(999), nullptr);
}

TEST_F(EmbeddedAssets, ChildWithAllResourcesReportsTheSame) {
  TempFolder folder;
  const std::wstring out = folder.path + L"\\report.txt";
  ASSERT_EQ(RunChild(SelfPath(), L"report", L"AssetsChild.ReportLoadedAssets", out), 0);
  const std::vector<std::string> lines = ReadLines(out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "JetBrains Mono");
  EXPECT_EQ(lines[4], "256x256 E200B");
  EXPECT_EQ(lines[5], "600x940 E200B");
}

TEST_F(EmbeddedAssets, MissingMonoFontFallsBackAlone) {
  TempFolder folder;
  const std::wstring copy = folder.path + L"\\no-mono.exe";
  ASSERT_TRUE(CopyWithout(copy, {107}));
  const std::wstring out = folder.path + L"\\report.txt";
  ASSERT_EQ(RunChild(copy, L"report", L"AssetsChild.ReportLoadedAssets", out), 0);
  const std::vector<std::string> lines = ReadLines(out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Space Grotesk Light");
  EXPECT_EQ(lines[1], "Space Grotesk Light Medium");
  EXPECT_EQ(lines[2], "Inter");
  // The installed "Consolas" when the machine has it; a machine without it
  // yields an unusable family, but never the embedded one.
  EXPECT_TRUE(lines[3] == "Consolas" || lines[3] == "(unusable)") << lines[3];
  RecordProperty("monoFallback", lines[3]);
  EXPECT_EQ(lines[4], "256x256 E200B");
  EXPECT_EQ(lines[5], "600x940 E200B");
}

TEST_F(EmbeddedAssets, MissingBrandImageLeavesTheLogo) {
  TempFolder folder;
  const std::wstring copy = folder.path + L"\\no-brand.exe";
  ASSERT_TRUE(CopyWithout(copy, {102}));
  const std::wstring out = folder.path + L"\\report.txt";
  ASSERT_EQ(RunChild(copy, L"report", L"AssetsChild.ReportLoadedAssets", out), 0);
  const std::vector<std::string> lines = ReadLines(out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "JetBrains Mono");
  EXPECT_EQ(lines[4], "256x256 E200B");
  EXPECT_EQ(lines[5], "none");
}

TEST(SilentRun, NeverLoadsGdiplus) {
  if (!ChildMode().empty()) GTEST_SKIP() << "parent-only test";
  // The child runs from a copy inside the prefix, so that even a run that
  // ignored "/dir=" could only reach folders of the prefix.
  TempFolder home;
  const std::wstring copy = home.path + L"\\child.exe";
  ASSERT_TRUE(CopyFileW(SelfPath().c_str(), copy.c_str(), FALSE));
  const std::wstring out = home.path + L"\\silent.txt";
  ASSERT_EQ(RunChild(copy, L"silent", L"AssetsChild.SilentRun", out), 0);
  const std::vector<std::string> lines = ReadLines(out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "0") << "gdiplus.dll loaded before the run";
  EXPECT_EQ(lines[1], "0") << "gdiplus.dll loaded by the silent run";
  EXPECT_EQ(lines[2], "0") << "exit code of the silent uninstall";
  EXPECT_EQ(lines[3], "1");
}

}  // namespace
