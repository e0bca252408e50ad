// The resources compiled into the setup program, read back through Win32 the
// way Windows and the program itself read them: images and fonts as RCDATA in
// US English, the icon group, the version block and the manifest. Each case
// runs on this test program (same .rc) and on the built setup-stub.exe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "norvale_version_rc.h"
#include "support/test_support.h"
#include "toolkit/assets.h"

namespace {

const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct Bytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) { return static_cast<uint32_t>(Be16(p)) << 16 | Be16(p + 2); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(Le16(p)) | static_cast<uint32_t>(Le16(p + 2)) << 16;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  if (IS_INTRESOURCE(name))
    reinterpret_cast<std::vector<int>*>(param)->push_back(
        static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
  else
    reinterpret_cast<std::vector<int>*>(param)->push_back(-1);
  return TRUE;
}

struct PngHeader {
  bool valid = false;
  uint32_t width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
};

PngHeader ReadPngHeader(Bytes b) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PngHeader h;
  if (b.size < 33 || memcmp(b.data, kSignature, 8) != 0 || memcmp(b.data + 12, "IHDR", 4) != 0) return h;
  h.valid = true;
  h.width = Be32(b.data + 16);
  h.height = Be32(b.data + 20);
  h.bitDepth = b.data[24];
  h.colourType = b.data[25];
  return h;
}

struct FontFacts {
  bool trueType = false;
  std::wstring family, style;  // Windows-platform name IDs 1 and 2
  int weight = 0;              // OS/2 usWeightClass
  int fsSelection = 0;
  int macStyle = 0;
};

// Reads the sfnt table directory, the name table (Windows platform, UTF-16BE),
// OS/2 and head; every offset is checked against the resource size.
FontFacts ReadFont(Bytes b) {
  FontFacts f;
  if (b.size < 12 || Be32(b.data) != 0x00010000) return f;
  f.trueType = true;
  uint16_t tables = Be16(b.data + 4);
  for (uint16_t i = 0; i < tables && 12 + 16u * (i + 1) <= b.size; ++i) {
    const uint8_t* rec = b.data + 12 + 16 * i;
    uint32_t offset = Be32(rec + 8), length = Be32(rec + 12);
    if (offset > b.size || length > b.size - offset) continue;
    const uint8_t* t = b.data + offset;
    if (memcmp(rec, "name", 4) == 0 && length >= 6) {
      uint16_t count = Be16(t + 2), strings = Be16(t + 4);
      for (uint16_t n = 0; n < count && 6 + 12u * (n + 1) <= length; ++n) {
        const uint8_t* r = t + 6 + 12 * n;
        uint16_t platform = Be16(r), nameId = Be16(r + 6), len = Be16(r + 8), off = Be16(r + 10);
        if (platform != 3 || (nameId != 1 && nameId != 2)) continue;
        if (static_cast<uint32_t>(strings) + off + len > length) continue;
        std::wstring text;
        for (uint16_t k = 0; k + 1 < len; k += 2) text += static_cast<wchar_t>(Be16(t + strings + off + k));
        (nameId == 1 ? f.family : f.style) = text;
      }
    } else if (memcmp(rec, "OS/2", 4) == 0 && length >= 64) {
      f.weight = Be16(t + 4);
      f.fsSelection = Be16(t + 62);
    } else if (memcmp(rec, "head", 4) == 0 && length >= 46) {
      f.macStyle = Be16(t + 44);
    }
  }
  return f;
}

std::wstring QueryString(const std::vector<uint8_t>& block, const wchar_t* name) {
  std::wstring path = std::wstring(L"\\StringFileInfo\\040C04B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || !value) return L"<missing>";
  return std::wstring(static_cast<const wchar_t*>(value));
}

// Parameter: empty = this test program, otherwise a file of the out folder.
class Resources : public testing::TestWithParam<const wchar_t*> {
 protected:
  void SetUp() override {
    std::wstring name = GetParam();
    if (name.empty()) {
      module_ = GetModuleHandleW(nullptr);
      wchar_t path[MAX_PATH];
      GetModuleFileNameW(nullptr, path, MAX_PATH);
      path_ = path;
    } else {
      path_ = OutPath(name);
      module_ =
          LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
      loaded_ = module_ != nullptr;
    }
    ASSERT_NE(module_, nullptr) << Narrow(path_) << " cannot be opened, error " << GetLastError();
  }
  void TearDown() override {
    if (loaded_) FreeLibrary(module_);
  }

  // The resource in US English, and that it exists in no other language.
  Bytes Find(LPCWSTR type, int id) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module_, type, MAKEINTRESOURCEW(id), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{kEnglishUs}) << "languages of resource " << id;
    Bytes b;
    HRSRC info = FindResourceExW(module_, type, MAKEINTRESOURCEW(id), kEnglishUs);
    if (!info) return b;
    HGLOBAL handle = LoadResource(module_, info);
    b.data = handle ? static_cast<const uint8_t*>(LockResource(handle)) : nullptr;
    b.size = b.data ? SizeofResource(module_, info) : 0;
    return b;
  }

  HMODULE module_ = nullptr;
  bool loaded_ = false;
  std::wstring path_;
};

TEST_P(Resources, ImagesArePngOfTheirSizeAndFormat) {
  PngHeader logo = ReadPngHeader(Find(RT_RCDATA, 101));
  ASSERT_TRUE(logo.valid);
  EXPECT_EQ(logo.width, 256u);
  EXPECT_EQ(logo.height, 256u);
  EXPECT_EQ(logo.bitDepth, 8);
  EXPECT_EQ(logo.colourType, 6);  // truecolour with alpha

  PngHeader brand = ReadPngHeader(Find(RT_RCDATA, 102));
  ASSERT_TRUE(brand.valid);
  EXPECT_EQ(brand.width, 600u);
  EXPECT_EQ(brand.height, 940u);
  EXPECT_EQ(brand.bitDepth, 8);
  EXPECT_EQ(brand.colourType, 2);  // truecolour, no alpha
}

TEST_P(Resources, FontsCarryTheFamiliesAndStylesLookedUp) {
  struct Expected {
    int id;
    const wchar_t* family;
    const wchar_t* style;
    int weight;
  };
  const Expected fonts[] = {{103, L"Space Grotesk Light", L"Bold", 700},
                            {104, L"Space Grotesk Light Medium", L"Regular", 500},
                            {105, L"Inter", L"Regular", 400},
                            {106, L"Inter", L"Bold", 700},
                            {107, L"JetBrains Mono", L"Regular", 400}};
  for (const Expected& e : fonts) {
    SCOPED_TRACE(e.id);
    // Stored compressed, expanded by the program before GDI+ sees them.
    const Bytes packed = Find(RT_RCDATA, e.id);
    std::vector<uint8_t> file;
    ASSERT_TRUE(ExpandFontResource(packed.data, packed.size, &file));
    FontFacts f = ReadFont(Bytes{file.data(), file.size()});
    ASSERT_TRUE(f.trueType);
    EXPECT_EQ(f.family, e.family);
    EXPECT_EQ(f.style, e.style);
    EXPECT_EQ(f.weight, e.weight);
    bool bold = std::wstring(e.style) == L"Bold";
    // GDI+ takes Bold/Regular from these bits, not from the weight.
    EXPECT_EQ((f.fsSelection & 0x20) != 0, bold);   // BOLD
    EXPECT_EQ((f.fsSelection & 0x40) != 0, !bold);  // REGULAR
    EXPECT_EQ(f.fsSelection & 0x01, 0);             // not italic
    EXPECT_EQ(f.macStyle & 0x03, bold ? 1 : 0);
  }
}

TEST_P(Resources, IconGroupHoldsSevenPngImages) {
  Bytes group = Find(RT_GROUP_ICON, 1);
  ASSERT_GE(group.size, 6u);
  ASSERT_EQ(Le16(group.data + 2), 1);  // icons, not cursors
  uint16_t count = Le16(group.data + 4);
  ASSERT_EQ(count, 7);
  ASSERT_GE(group.size, 6u + 14u * count);

  std::set<uint32_t> sizes;
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* e = group.data + 6 + 14 * i;
    uint32_t size = e[0] == 0 ? 256 : e[0];
    SCOPED_TRACE(size);
    EXPECT_EQ(e[0], e[1]);       // square
    EXPECT_EQ(Le16(e + 6), 32);  // bits per pixel
    Bytes image = Find(RT_ICON, Le16(e + 12));
    ASSERT_NE(image.data, nullptr);
    EXPECT_EQ(image.size, Le32(e + 8));
    PngHeader png = ReadPngHeader(image);
    ASSERT_TRUE(png.valid);
    EXPECT_EQ(png.width, size);
    EXPECT_EQ(png.height, size);
    EXPECT_EQ(png.colourType, 6);
    sizes.insert(size);
  }
  EXPECT_EQ(sizes, (std::set<uint32_t>{16, 24, 32, 48, 64, 128, 256}));

  // Windows' own choice of image for a requested size picks the exact one.
  for (int want : {16, 32, 48, 256}) {
    int id = LookupIconIdFromDirectoryEx(const_cast<PBYTE>(group.data), TRUE, want, want, LR_DEFAULTCOLOR);
    HRSRC info = FindResourceExW(module_, RT_ICON, MAKEINTRESOURCEW(id), kEnglishUs);
    ASSERT_NE(info, nullptr) << want;
    PngHeader png = ReadPngHeader({static_cast<const uint8_t*>(LockResource(LoadResource(module_, info))),
                                   SizeofResource(module_, info)});
    EXPECT_EQ(png.width, static_cast<uint32_t>(want));
  }
}

TEST_P(Resources, ManifestAsksForNoElevation) {
  std::vector<int> names;
  EnumResourceNamesW(module_, RT_MANIFEST, CollectName, reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(names, std::vector<int>{1});
  Bytes manifest = Find(RT_MANIFEST, 1);
  ASSERT_NE(manifest.data, nullptr);
  std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
  EXPECT_NE(text.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
            std::string::npos);
  for (const char* other : {"requireAdministrator", "highestAvailable", "dpiAware", "dependentAssembly"})
    EXPECT_EQ(text.find(other), std::string::npos) << other;
}

TEST_P(Resources, VersionBlockIsFrenchUnicodeWithTheBuildVersion) {
  Find(RT_VERSION, 1);  // language check
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, block.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);  // exactly one language / code page pair
  EXPECT_EQ(static_cast<WORD*>(value)[0], 0x040C);
  EXPECT_EQ(static_cast<WORD*>(value)[1], 1200);

  EXPECT_EQ(QueryString(block, L"CompanyName"), L"\u00C9quipe Norvale");
  EXPECT_EQ(QueryString(block, L"FileDescription"), L"Installation de Norvale Lockra");
  EXPECT_EQ(QueryString(block, L"ProductName"), L"Norvale Lockra");
  std::wstring version;
  for (const char* c = NORVALE_VERSION_TEXT; *c; ++c) version += static_cast<wchar_t>(*c);
  EXPECT_EQ(QueryString(block, L"FileVersion"), version);
  EXPECT_EQ(QueryString(block, L"ProductVersion"), version);
  EXPECT_NE(QueryString(block, L"LegalCopyright").find(L"\u00C9quipe Norvale"), std::wstring::npos);

  // The fixed part: the leading numbers of the version text, missing ones 0.
  unsigned parts[4] = {0, 0, 0, 0};
  const wchar_t* p = version.c_str();
  for (int i = 0; i < 4 && iswdigit(*p); ++i) {
    parts[i] = wcstoul(p, const_cast<wchar_t**>(&p), 10);
    if (*p != L'.') break;
    ++p;
  }
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const VS_FIXEDFILEINFO* fixed = static_cast<VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(parts[1], parts[0]));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(parts[3], parts[2]));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

INSTANTIATE_TEST_SUITE_P(Programs, Resources, testing::Values(L"", L"setup-stub.exe"),
                         [](const testing::TestParamInfo<const wchar_t*>& info) {
                           return std::wstring(info.param).empty() ? std::string("ThisProgram")
                                                                   : std::string("SetupStub");
                         });

}  // namespace
