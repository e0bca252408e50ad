#include "window/window.h"

#include <dwmapi.h>

#include "app/state.h"
#include "app/texts.h"
#include "toolkit/backdrop.h"
#include "window/accessible.h"
#include "window/compose.h"
#include "window/flow.h"
#include "window/input.h"

Gdiplus::Bitmap* backBuffer = nullptr;

namespace {

constexpr wchar_t kClassName[] = L"NorvaleSetup";
constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT kFramePeriodMs = 33;
constexpr DWORD kCornerPreference = 33;  // DWMWA_WINDOW_CORNER_PREFERENCE
constexpr DWORD kCornerRound = 2;        // DWMWCP_ROUND

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  if (!screen) return 96;
  int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

std::wstring WindowTitle() {
  std::wstring title = kProductName;
  title += InstallerState.mode == Uninstall ? kTitleUninstall : kTitleInstall;
  return title;
}

}  // namespace

SIZE ScaledWindowSize(float scale) {
  return SIZE{static_cast<LONG>(780.0f * scale), static_cast<LONG>(470.0f * scale)};
}

int RunInstallerWindow(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DROPSHADOW;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = wc.hIcon;
  wc.lpszClassName = kClassName;
  // A class left registered by an earlier window of this process is usable;
  // any other failure means no window can ever exist, so leave at once
  // instead of entering a loop that nothing would end.
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return 1;

  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT work = monitor.rcWork;

  const int systemDpi = SystemDpi();
  InstallerState.uiScale = systemDpi / 96.0f;
  const SIZE size = ScaledWindowSize(InstallerState.uiScale);
  const int x = work.left + (work.right - work.left - size.cx) / 2;
  const int y = work.top + (work.bottom - work.top - size.cy) / 2;

  ReadHighContrast();
  HWND window = CreateWindowExW(WS_EX_APPWINDOW, kClassName, WindowTitle().c_str(),
                                WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, x, y, size.cx, size.cy, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return 1;
  InstallerState.window = window;

  // The window may open on a monitor whose DPI differs from the system's:
  // keep the centred corner, take that monitor's scale.
  const UINT windowDpi = GetDpiForWindow(window);
  if (windowDpi != 0 && static_cast<int>(windowDpi) != systemDpi) {
    InstallerState.uiScale = windowDpi / 96.0f;
    const SIZE scaled = ScaledWindowSize(InstallerState.uiScale);
    SetWindowPos(window, nullptr, 0, 0, scaled.cx, scaled.cy, SWP_NOMOVE | SWP_NOZORDER);
  }

  DWORD corner = kCornerRound;
  DwmSetWindowAttribute(window, kCornerPreference, &corner, sizeof(corner));
  ShowWindow(window, SW_SHOW);
  SetTimer(window, kFrameTimer, kFramePeriodMs, nullptr);

  if (InstallerState.mode == Update) StartWorker();

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  if (InstallerState.worker.joinable()) InstallerState.worker.join();
  ReleaseFrameSurfaces();
  return CurrentScreen() == Error ? 1 : 0;
}

void PaintWindow(HWND window, HDC dc) {
  RECT client;
  GetClientRect(window, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return;
  RECT dirty;
  if (GetClipBox(dc, &dirty) == ERROR) dirty = client;
  // New still content may change any pixel: show all of it, not only the
  // part that this paint was asked for.
  PrepareFocusForFrame();
  if (ComposeFrame(dc, width, height, dirty)) {
    AnnounceFrame(window);
    if (!EqualRect(&dirty, &client)) InvalidateRect(window, nullptr, FALSE);
  }
}

void RequestClose(HWND window) {
  if (CurrentScreen() == Progress) return;
  // Leaving a finished install with "launch at the end" ticked starts the
  // product, whichever way the window is closed.
  if (LeavingShouldLaunch()) LaunchInstalledProduct();
  DestroyWindow(window);
}
