// Renders the backdrop as the preview export does (scale 2, 1560 x 940) and
// saves it as a PNG, so that it can be looked at:
//   backdrop-dump.exe OUT.png [version [scale]]
#include <windows.h>
// clang-format off
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <cstdio>
#include <vector>

#include "app/state.h"
#include "toolkit/assets.h"
#include "toolkit/backdrop.h"

namespace {

bool PngEncoder(CLSID* clsid) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (lstrcmpiW(codecs[i].MimeType, L"image/png") == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fwprintf(stderr, L"usage: backdrop-dump OUT.png [version [scale]]\n");
    return 2;
  }
  InstallerState.version = argc > 2 ? argv[2] : L"0.1.69b";
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
  LoadEmbeddedAssets();
  const int scale = argc > 3 ? _wtoi(argv[3]) : 2;
  InstallerState.uiScale = static_cast<float>(scale);
  RenderBackdrop(780 * scale, 470 * scale);
  CLSID png;
  const bool saved = backdropBitmap != nullptr && PngEncoder(&png) &&
                     backdropBitmap->Save(argv[1], &png, nullptr) == Gdiplus::Ok;
  delete backdropBitmap;
  backdropBitmap = nullptr;
  ReleaseEmbeddedAssets();
  Gdiplus::GdiplusShutdown(token);
  return saved ? 0 : 1;
}
