#include "window/preview.h"

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

#include <vector>

#include "app/helpers.h"
#include "app/launch.h"
#include "app/state.h"
#include "app/texts.h"
#include "toolkit/backdrop.h"
#include "toolkit/draw.h"
#include "window/flow.h"
#include "window/screens.h"

const PreviewEntry previewEntries[previewCount] = {
    {L"06-accueil", Install, Welcome},     {L"07-progression", Install, Progress},
    {L"08-termine", Install, Done},        {L"09-desinstallation", Uninstall, Welcome},
    {L"10-desinstalle", Uninstall, Done},  {L"11-erreur", Install, Error},
    {L"12-mise-a-jour", Update, Progress},
};

namespace {

constexpr int kPreviewWidth = 1560;
constexpr int kPreviewHeight = 940;

}  // namespace

bool FindPngEncoder(CLSID* clsid) {
  UINT count = 0;
  UINT size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  if (size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType && wcscmp(codecs[i].MimeType, L"image/png") == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

void SetPreviewSample(Mode mode, Screen screen) {
  InstallerState.mode = mode;
  SetScreen(screen);
  InstallerState.bytesTotal.store(0xA000000);
  InstallerState.bytesDone.store(0x6700000);
  SetStatus(kStatusCopyingFiles);
  SetErrorText(kPreviewErrorMessage);
}

int ExportPreviews(const std::wstring& folder) {
  CLSID png;
  if (!FindPngEncoder(&png)) return 1;
  CreateDirectories(folder);

  // With "/contraste", the screens as a high-contrast theme shows them, in
  // the fixed colours of the black theme (the machine's own would make the
  // images depend on it).
  const bool contrast = HasSwitch(GetCommandLineW(), L"/contraste");
  if (contrast) contrastTheme = BlackContrastTheme();

  InstallerState.uiScale = 2.0f;
  RenderBackdrop(kPreviewWidth, kPreviewHeight);
  Gdiplus::Bitmap image(kPreviewWidth, kPreviewHeight, PixelFormat32bppPARGB);
  if (image.GetLastStatus() != Gdiplus::Ok) return 1;

  for (const PreviewEntry& entry : previewEntries) {
    SetPreviewSample(entry.mode, entry.screen);
    {
      // A still moment, as with animations off: the same sample gives the
      // same image whenever it is exported (the bar's colours flow with the
      // clock otherwise, and the caret blinks).
      FrameContext frame = CaptureFrame();
      frame.time = 0;
      frame.animationsOn = false;
      // What a mouse user sees: no focus ring, no underlined Alt letters.
      frame.focusRing = 0;
      frame.shortcuts = false;
      frame.highContrast = contrast;
      Gdiplus::Graphics graphics(&image);
      PaintFrame(graphics, frame, FramePart::Whole, false);
    }
    const std::wstring path = folder + L"\\" + entry.file + L".png";
    if (image.Save(path.c_str(), &png, nullptr) != Gdiplus::Ok) return 1;
  }
  return 0;
}
