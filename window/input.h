// Mouse and keyboard input of the borderless window: hover, press, click
// dispatch by widget id, dragging through HTCAPTION, Enter and Escape.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

#include <cstdint>

// Widget ids: the clickable parts of the window.
enum WidgetId : int32_t {
  kCloseButton = 1,
  kMinimizeButton = 2,
  kMainButton = 3,
  kSecondaryButton = 4,
  kDesktopShortcutRow = 5,
  kLaunchAtEndRow = 6,
  kChangeFolderButton = 7,
  kRemoveDataRow = 8,
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Widget id under a packed point (client or screen coordinates), 0 for none.
int32_t HitTest(HWND window, LPARAM point, bool screenCoordinates);

// The action of a click on widget `id`.
void ClickWidget(HWND window, int32_t id);

// A packed client point in pixels, as layout units at `scale`.
Gdiplus::PointF LayoutPoint(LPARAM point, float scale);

// Tab and Shift+Tab: the focus to the next (previous) widget of the frame,
// wrapping around.
void MoveFocus(HWND window, bool backwards);

// A key (WM_KEYDOWN) and a key with Alt (WM_SYSKEYDOWN); true when handled.
bool HandleKey(HWND window, WPARAM key);
bool HandleAltKey(HWND window, WPARAM key);

// Reads the system's high-contrast setting into InstallerState.highContrast.
void ReadHighContrast();
