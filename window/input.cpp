#include "window/input.h"

#include <windowsx.h>

#include <cwctype>
#include <mutex>
#include <vector>

#include "app/state.h"
#include "toolkit/backdrop.h"
#include "toolkit/draw.h"
#include "toolkit/widgets.h"
#include "window/accessible.h"
#include "window/compose.h"
#include "window/flow.h"
#include "window/folder_picker.h"
#include "window/window.h"

namespace {

void SetHoverCursor() { SetCursor(LoadCursorW(nullptr, InstallerState.hoverId != 0 ? IDC_HAND : IDC_ARROW)); }

void OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
  InstallerState.uiScale = HIWORD(wParam) / 96.0f;
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  // The next frame rebuilds the backdrop and the back buffer at the new size.
  delete backdropBitmap;
  backdropBitmap = nullptr;
}

void MainAction(HWND window) {
  switch (CurrentScreen()) {
    case Welcome:
    case Error: {
      {
        std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
        InstallerState.errorText.clear();
      }
      StartWorker();
      break;
    }
    case Done:
      if (InstallerState.mode != Uninstall) LaunchInstalledProduct();
      RequestClose(window);
      break;
    case Progress:
      break;
  }
}

// The widgets of the frame last painted that take the keyboard focus, in
// reading order.
std::vector<int32_t> FocusOrder() {
  std::vector<int32_t> ids;
  for (const AccessItem& item : InstallerState.accessItems)
    if (item.id != 0) ids.push_back(item.id);
  return ids;
}

void SetKeyboardFocus(HWND window, int32_t id) {
  InstallerState.focusId = id;
  InstallerState.keyboardUsed = true;
  InvalidateRect(window, nullptr, FALSE);
  NotifyFocus(window);
}

bool IsButton(int32_t id) {
  for (const AccessItem& item : InstallerState.accessItems)
    if (item.id == id) return item.role == ButtonRole;
  return false;
}

// Alt with a letter: the widget of the frame whose label starts with it.
int32_t WidgetOfShortcut(WPARAM key) {
  for (const AccessItem& item : InstallerState.accessItems)
    if (item.id != 0 && item.shortcut != 0 && static_cast<WPARAM>(item.shortcut) == key) return item.id;
  return 0;
}

void SetAltHeld(HWND window, bool held) {
  if (InstallerState.altHeld == held) return;
  InstallerState.altHeld = held;
  InvalidateRect(window, nullptr, FALSE);
}

}  // namespace

void MoveFocus(HWND window, bool backwards) {
  const std::vector<int32_t> order = FocusOrder();
  if (order.empty()) return;
  size_t at = order.size();
  for (size_t i = 0; i < order.size(); ++i)
    if (order[i] == InstallerState.focusId) at = i;
  size_t next;
  if (at == order.size()) {
    next = backwards ? order.size() - 1 : 0;
  } else {
    next = backwards ? (at + order.size() - 1) % order.size() : (at + 1) % order.size();
  }
  SetKeyboardFocus(window, order[next]);
}

bool HandleKey(HWND window, WPARAM key) {
  switch (key) {
    case VK_TAB:
      MoveFocus(window, GetKeyState(VK_SHIFT) < 0);
      return true;
    case VK_SPACE:
      InstallerState.keyboardUsed = true;
      if (InstallerState.focusId != 0 && ChildOfWidget(InstallerState.focusId) != 0)
        ClickWidget(window, InstallerState.focusId);
      return true;
    case VK_RETURN: {
      // The focused button, else the main one (a focused check row included).
      const int32_t focused = InstallerState.focusId;
      ClickWidget(window, IsButton(focused) ? focused : kMainButton);
      return true;
    }
    case VK_ESCAPE:
      RequestClose(window);
      return true;
    default:
      return false;
  }
}

bool HandleAltKey(HWND window, WPARAM key) {
  if (key == VK_MENU) {
    SetAltHeld(window, true);
    return true;
  }
  const int32_t id = WidgetOfShortcut(key);
  if (id == 0) return false;
  SetKeyboardFocus(window, id);
  ClickWidget(window, id);
  return true;
}

void ReadHighContrast() {
  HIGHCONTRASTW hc = {};
  hc.cbSize = sizeof(hc);
  InstallerState.highContrast = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) &&
                                (hc.dwFlags & HCF_HIGHCONTRASTON) != 0;
  const bool on = contrastTheme.on;
  contrastTheme = SystemContrastTheme();
  contrastTheme.on = on;  // the frame painter switches it, frame by frame
}

Gdiplus::PointF LayoutPoint(LPARAM point, float scale) {
  const int x = GET_X_LPARAM(point);
  const int y = GET_Y_LPARAM(point);
  return Gdiplus::PointF(x / scale, y / scale);
}

int32_t HitTest(HWND window, LPARAM point, bool screenCoordinates) {
  if (screenCoordinates) {
    POINT p = {GET_X_LPARAM(point), GET_Y_LPARAM(point)};
    ScreenToClient(window, &p);
    point = MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y));
  }
  const Gdiplus::PointF layout = LayoutPoint(point, InstallerState.uiScale);
  return HitRegionAt(layout.X, layout.Y);
}

void ClickWidget(HWND window, int32_t id) {
  switch (id) {
    case kCloseButton:
    case kSecondaryButton:
      RequestClose(window);
      break;
    case kMinimizeButton:
      ShowWindow(window, SW_MINIMIZE);
      break;
    case kMainButton:
      MainAction(window);
      break;
    case kDesktopShortcutRow:
      InstallerState.createDesktopShortcut = !InstallerState.createDesktopShortcut;
      break;
    case kLaunchAtEndRow:
      InstallerState.launchAtEnd = !InstallerState.launchAtEnd;
      break;
    case kChangeFolderButton:
      PickInstallFolder(window);
      break;
    case kRemoveDataRow:
      InstallerState.removeUserData = !InstallerState.removeUserData;
      break;
    default:
      break;
  }
  // Show the new state at once rather than on the next timer frame.
  InvalidateRect(window, nullptr, FALSE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCHITTEST: {
      // Everything that is not a widget drags the window like a title bar.
      const LRESULT hit = DefWindowProcW(window, message, wParam, lParam);
      if (hit == HTCLIENT && HitTest(window, lParam, true) == 0) return HTCAPTION;
      return hit;
    }
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        SetHoverCursor();
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE: {
      const int32_t id = HitTest(window, lParam, false);
      if (id != InstallerState.hoverId) {
        InstallerState.hoverId = id;
        TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, window, 0};
        TrackMouseEvent(&track);
        SetHoverCursor();
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      InstallerState.hoverId = 0;
      return 0;
    case WM_LBUTTONDOWN:
      InstallerState.pressedId = HitTest(window, lParam, false);
      SetCapture(window);
      return 0;
    case WM_LBUTTONUP: {
      // Take the pressed widget before releasing the capture: the release
      // itself delivers messages to this procedure.
      const int32_t pressed = InstallerState.pressedId;
      InstallerState.pressedId = 0;
      ReleaseCapture();
      const int32_t id = HitTest(window, lParam, false);
      if (id != 0 && id == pressed) ClickWidget(window, id);
      return 0;
    }
    case WM_KEYDOWN:
      HandleKey(window, wParam);
      return 0;
    case WM_SYSKEYDOWN:
      if (HandleAltKey(window, wParam)) return 0;
      break;  // Alt+F4, Alt+Space: the system's
    case WM_SYSCHAR:
      // The letter of a widget was handled with its key; no beep for it.
      if (WidgetOfShortcut(static_cast<WPARAM>(towupper(static_cast<wint_t>(wParam)))) != 0) return 0;
      break;
    case WM_SYSKEYUP:
    case WM_KEYUP:
      if (wParam == VK_MENU) {
        // Not passed on: a lone Alt would otherwise enter the system menu's
        // mode and swallow the next keys.
        SetAltHeld(window, false);
        return 0;
      }
      break;
    case WM_KILLFOCUS:
      SetAltHeld(window, false);
      break;
    case kDefaultActionMessage:
      // Asked by a screen reader: a click on a widget that the frame shows.
      if (ChildOfWidget(static_cast<int32_t>(wParam)) != 0) ClickWidget(window, static_cast<int32_t>(wParam));
      return 0;
    case WM_GETOBJECT: {
      LRESULT answer = 0;
      if (AnswerGetObject(window, wParam, lParam, &answer)) return answer;
      break;
    }
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
      ReadHighContrast();
      DiscardStillLayer();  // the colours may have changed with the setting unchanged
      InvalidateRect(window, nullptr, FALSE);
      break;
    case WM_TIMER: {
      // Only what can have changed since the last frame is repainted.
      RECT client;
      GetClientRect(window, &client);
      const RECT damage = TickDamage(client.right, client.bottom);
      if (!IsRectEmpty(&damage)) InvalidateRect(window, &damage, FALSE);
      OnFrameTimer(window);
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      PaintWindow(window, dc);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_DPICHANGED:
      OnDpiChanged(window, wParam, lParam);
      return 0;
    case WM_CLOSE:
      RequestClose(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
