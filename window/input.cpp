#include "window/input.h"

#include <windowsx.h>

#include <mutex>

#include "app/state.h"
#include "toolkit/backdrop.h"
#include "toolkit/widgets.h"
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

}  // namespace

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
      if (wParam == VK_RETURN) {
        ClickWidget(window, kMainButton);
      } else if (wParam == VK_ESCAPE) {
        RequestClose(window);
      }
      return 0;
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
