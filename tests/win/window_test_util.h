// Shared by the window tests: painting one frame off screen (which fills
// InstallerState.hitRegions exactly as the window does) and a window that
// runs the real window procedure.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "toolkit_env.h"
#include "window/flow.h"
#include "window/input.h"
#include "window/screens.h"
#include "window/window.h"

// Paints one frame of (mode, screen) at `scale` on a bitmap of the window's size.
inline void PaintFrame(Mode mode, Screen screen, float scale = 1.0f) {
  InstallerState.mode = mode;
  SetScreen(screen);
  InstallerState.uiScale = scale;
  const SIZE size = ScaledWindowSize(scale);
  Gdiplus::Bitmap bitmap(size.cx, size.cy, PixelFormat32bppPARGB);
  Gdiplus::Graphics g(&bitmap);
  PaintScreens(g);
}

// Nothing hovered or pressed, the options at their defaults, a usual folder.
inline void ResetWidgetState() {
  InstallerState.hoverId = 0;
  InstallerState.pressedId = 0;
  InstallerState.createDesktopShortcut = true;
  InstallerState.launchAtEnd = true;
  InstallerState.removeUserData = false;
  InstallerState.installDir = L"C:\\users\\test\\AppData\\Local\\Programs\\Norvale Lockra";
}

inline std::vector<int32_t> RegionIds() {
  std::vector<int32_t> ids;
  for (const HitRegion& r : InstallerState.hitRegions) ids.push_back(r.id);
  return ids;
}

inline const HitRegion* RegionOf(int32_t id) {
  for (const HitRegion& r : InstallerState.hitRegions)
    if (r.id == id) return &r;
  return nullptr;
}

// A hidden popup window of the given pixel size whose procedure is WindowProc.
inline HWND MakeTestWindow(int width, int height) {
  static const bool registered = [] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NorvaleSetupTest";
    return RegisterClassExW(&wc) != 0;
  }();
  if (!registered) return nullptr;
  return CreateWindowExW(0, L"NorvaleSetupTest", L"test", WS_POPUP, 100, 100, width, height, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// Packed client point of a layout point at `scale`.
inline LPARAM PixelOf(float x, float y, float scale) {
  return MAKELPARAM(static_cast<int>(x * scale), static_cast<int>(y * scale));
}

// The centre of a registered widget, as a packed client point.
inline LPARAM CentreOf(int32_t id, float scale) {
  const HitRegion* r = RegionOf(id);
  if (!r) return MAKELPARAM(-1, -1);
  return PixelOf(r->rect.X + r->rect.Width / 2, r->rect.Y + r->rect.Height / 2, scale);
}
