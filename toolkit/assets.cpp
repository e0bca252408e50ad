// The images and fonts compiled into the executable, turned into the GDI+
// objects that the painters use. Nothing here runs before LoadEmbeddedAssets:
// a silent run, which never starts GDI+, creates none of these objects.
#include "toolkit/assets.h"

#include <shlwapi.h>

#include <vector>

#include "app/helpers.h"
#include "codec/container.h"
#include "codec/lzms.h"

Gdiplus::Bitmap* logoImage = nullptr;
Gdiplus::Bitmap* brandImage = nullptr;
Gdiplus::PrivateFontCollection* privateFonts = nullptr;
Gdiplus::FontFamily* displayFamily = nullptr;
Gdiplus::FontFamily* displayMediumFamily = nullptr;
Gdiplus::FontFamily* bodyFamily = nullptr;
Gdiplus::FontFamily* monoFamily = nullptr;

namespace {

// The expanded font files: the collection reads its faces from this memory,
// so it lives until the collection has been deleted.
std::vector<std::vector<uint8_t>>* fontFiles = nullptr;

// The bytes of an RT_RCDATA resource of this executable, read in place.
bool FindResourceBytes(uint16_t id, const void** bytes, DWORD* size) {
  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
  if (info == nullptr) return false;
  const DWORD length = SizeofResource(nullptr, info);
  HGLOBAL loaded = LoadResource(nullptr, info);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr || length == 0) return false;
  *bytes = data;
  *size = length;
  return true;
}

// A family of the collection whose name matches, looked up by enumeration.
// Some GDI+ implementations do not find a private family by name although
// the collection lists it; the enumerated family is the same one.
Gdiplus::FontFamily* FindPrivateFamily(const wchar_t* name) {
  if (privateFonts == nullptr) return nullptr;
  const INT count = privateFonts->GetFamilyCount();
  if (count <= 0) return nullptr;
  auto* families = new Gdiplus::FontFamily[count];
  INT found = 0;
  Gdiplus::FontFamily* result = nullptr;
  if (privateFonts->GetFamilies(count, families, &found) == Gdiplus::Ok) {
    for (INT i = 0; i < found && result == nullptr; ++i) {
      WCHAR familyName[LF_FACESIZE] = {};
      if (families[i].GetFamilyName(familyName) == Gdiplus::Ok && SameTextIgnoringCase(familyName, name)) {
        result = families[i].Clone();
      }
    }
  }
  delete[] families;
  return result;
}

}  // namespace

bool ExpandFontResource(const void* bytes, size_t size, std::vector<uint8_t>* file) {
  const auto* in = static_cast<const uint8_t*>(bytes);
  uint64_t total = 0, chunk = 0;
  // TrueType files are a few hundred KiB; a header announcing more is damage.
  constexpr uint64_t kMaxFontSize = 64u << 20;
  if (!lzms::ReadHeader(in, size, &total, &chunk) || total == 0 || total > kMaxFontSize) return false;
  file->resize(static_cast<size_t>(total));
  size_t actual = 0;
  if (!LzmsBufferedDecompress(in, size, file->data(), file->size(), &actual) || actual != total) {
    file->clear();
    return false;
  }
  return true;
}

Gdiplus::Bitmap* LoadResourceImage(uint16_t id) {
  const void* bytes = nullptr;
  DWORD size = 0;
  if (!FindResourceBytes(id, &bytes, &size)) return nullptr;
  IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(bytes), size);
  if (stream == nullptr) return nullptr;

  Gdiplus::Bitmap* result = nullptr;
  auto* decoded = new Gdiplus::Bitmap(stream, FALSE);
  if (decoded->GetLastStatus() == Gdiplus::Ok) {
    // Redrawn once into the premultiplied format that every frame draws
    // fastest; the copy no longer depends on the stream or the resource.
    const UINT width = decoded->GetWidth();
    const UINT height = decoded->GetHeight();
    result = new Gdiplus::Bitmap(static_cast<INT>(width), static_cast<INT>(height), PixelFormat32bppPARGB);
    {
      Gdiplus::Graphics g(result);
      g.DrawImage(decoded, 0, 0, static_cast<INT>(width), static_cast<INT>(height));
    }
    if (result->GetLastStatus() != Gdiplus::Ok) {
      delete result;
      result = nullptr;
    }
  }
  delete decoded;
  stream->Release();
  return result;
}

Gdiplus::FontFamily* OpenFontFamily(const wchar_t* name, const wchar_t* fallback) {
  auto* family = new Gdiplus::FontFamily(name, privateFonts);
  if (family->GetLastStatus() == Gdiplus::Ok) return family;
  delete family;
  if (Gdiplus::FontFamily* found = FindPrivateFamily(name)) return found;
  return new Gdiplus::FontFamily(fallback, nullptr);
}

void LoadEmbeddedAssets() {
  ReleaseEmbeddedAssets();
  logoImage = LoadResourceImage(101);
  brandImage = LoadResourceImage(102);
  privateFonts = new Gdiplus::PrivateFontCollection();
  fontFiles = new std::vector<std::vector<uint8_t>>(5);
  for (uint16_t id = 103; id <= 107; ++id) {
    const void* bytes = nullptr;
    DWORD size = 0;
    // The fonts travel LZMS-compressed (a third of their size in every setup
    // file) and are expanded once into memory, never into a file.
    std::vector<uint8_t>& file = (*fontFiles)[id - 103];
    if (FindResourceBytes(id, &bytes, &size) && ExpandFontResource(bytes, size, &file))
      privateFonts->AddMemoryFont(file.data(), static_cast<INT>(file.size()));
  }
  displayFamily = OpenFontFamily(L"Space Grotesk Light", L"Segoe UI");
  displayMediumFamily = OpenFontFamily(L"Space Grotesk Light Medium", L"Segoe UI");
  bodyFamily = OpenFontFamily(L"Inter", L"Segoe UI");
  monoFamily = OpenFontFamily(L"JetBrains Mono", L"Consolas");
}

void ReleaseEmbeddedAssets() {
  // The families refer to the collection, so it goes last.
  delete logoImage;
  delete brandImage;
  delete displayFamily;
  delete displayMediumFamily;
  delete bodyFamily;
  delete monoFamily;
  delete privateFonts;
  delete fontFiles;
  fontFiles = nullptr;
  logoImage = brandImage = nullptr;
  displayFamily = displayMediumFamily = bodyFamily = monoFamily = nullptr;
  privateFonts = nullptr;
}
