// Frame painting cost: every screen of the preview list painted many times
// at scale 1 and 2, exactly as the window does on each frame tick (what the
// tick repaints, then the composition and the copy onto a device context),
// without the 33 ms timer in between. Prints, per screen, the median of
// those ticks and the median of full repaints (the still content painted
// anew, as after a click, a hover change or new progress figures), and last
// the worst tick median at scale 2 against the 33 ms frame budget.
// With the argument "startup" it instead times what a window run does before
// its first frame is on screen: GDI+ start-up, the embedded images and fonts,
// the backdrop and the first full frame at scale 1.
// clang-format off
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "app/state.h"
#include "toolkit/assets.h"
#include "toolkit/backdrop.h"
#include "window/compose.h"
#include "window/preview.h"
#include "window/screens.h"
#include "window/window.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One frame tick as the window runs it: the damage the timer computes, then
// the paint of that damage. `full` forces a repaint of the still content.
void Tick(HDC dc, int width, int height, bool full) {
  if (full) DiscardStillLayer();
  const RECT damage = TickDamage(width, height);
  if (!IsRectEmpty(&damage)) ComposeFrame(dc, width, height, damage);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// What the program releases after its window run, then GDI+ itself.
void ShutDown(ULONG_PTR token) {
  ReleaseFrameSurfaces();
  delete backdropBitmap;
  backdropBitmap = nullptr;
  ReleaseEmbeddedAssets();
  Gdiplus::GdiplusShutdown(token);
}

// One start-up, from the entry point to the first frame painted; prints
// "startup: assets_ms=A first_frame_ms=F" (F counts from the entry point and
// includes A).
int Startup() {
  const double start = Now();
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
  const double assetsStart = Now();
  LoadEmbeddedAssets();
  const double assets = Now() - assetsStart;
  InstallerState.version = L"0.0.0";
  InstallerState.installDir = L"C:\\users\\bench\\AppData\\Local\\Programs\\Norvale Lockra";
  InstallerState.uiScale = 1.0f;
  const SIZE size = ScaledWindowSize(1.0f);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP target = CreateCompatibleBitmap(screen, size.cx, size.cy);
  ReleaseDC(nullptr, screen);
  HGDIOBJ previous = SelectObject(dc, target);
  SetPreviewSample(previewEntries[0].mode, previewEntries[0].screen);
  Tick(dc, size.cx, size.cy, true);
  GdiFlush();
  const double first = Now() - start;
  printf("startup: assets_ms=%.2f first_frame_ms=%.2f\n", assets, first);
  SelectObject(dc, previous);
  DeleteObject(target);
  DeleteDC(dc);
  ShutDown(token);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && wcscmp(argv[1], L"startup") == 0) return Startup();
  const int frames = argc > 1 ? std::max(5, _wtoi(argv[1])) : 60;
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
  LoadEmbeddedAssets();
  InstallerState.version = L"0.0.0";
  InstallerState.installDir = L"C:\\users\\bench\\AppData\\Local\\Programs\\Norvale Lockra";

  double worst = 0;
  for (float scale : {1.0f, 2.0f}) {
    InstallerState.uiScale = scale;
    const SIZE size = ScaledWindowSize(scale);

    // A device context over a top-down 32-bit DIB stands in for the window's.
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP target = CreateCompatibleBitmap(screen, size.cx, size.cy);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(dc, target);

    for (const PreviewEntry& entry : previewEntries) {
      SetPreviewSample(entry.mode, entry.screen);
      for (int i = 0; i < 3; ++i) Tick(dc, size.cx, size.cy, false);
      std::vector<double> times;
      for (int i = 0; i < frames; ++i) {
        const double start = Now();
        Tick(dc, size.cx, size.cy, false);
        times.push_back(Now() - start);
        Sleep(1);  // let the frame time move, as the timer does
      }
      std::vector<double> full;
      for (int i = 0; i < std::max(3, frames / 10); ++i) {
        const double start = Now();
        Tick(dc, size.cx, size.cy, true);
        full.push_back(Now() - start);
      }
      const double median = Median(times);
      printf(
          "paint: scale=%.0f screen=%ls tick_median_ms=%.2f tick_max_ms=%.2f full_repaint_median_ms=%.2f\n",
          scale, entry.file, median, *std::max_element(times.begin(), times.end()), Median(full));
      fflush(stdout);
      if (scale == 2.0f) worst = std::max(worst, median);
    }
    SelectObject(dc, previous);
    DeleteObject(target);
    DeleteDC(dc);
  }

  ShutDown(token);
  printf("paint: worst_frame_ms=%.2f budget_ms=33 ratio=%.3f\n", worst, worst / 33.0);
  return 0;
}
