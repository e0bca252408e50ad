// The events that tell screen readers what changed (WinEvents), raised on
// the window thread after the frame that shows the change was painted, so
// that a reader asking back reads the new state.
#include <vector>

#include "window/accessible.h"
#include "window/flow.h"
#include "window/input.h"

namespace {

constexpr uint64_t kValueEventGapMs = 250;  // at most four progress announcements a second

struct Announced {
  bool any = false;
  Mode mode = Install;
  Screen screen = Welcome;
  std::vector<AccessItem> items;
  int32_t percent = -1;
  uint64_t percentTick = 0;
};
Announced announced;
bool screenPending = false;  // the focus moved for a new screen; its events follow the paint

long ProgressChild() {
  for (size_t i = 0; i < InstallerState.accessItems.size(); ++i)
    if (InstallerState.accessItems[i].role == ProgressRole) return static_cast<long>(i + 1);
  return 0;
}

void AnnounceProgress(HWND window, uint64_t now) {
  const long child = ProgressChild();
  if (child == 0) return;
  const int32_t percent = InstallerState.accessItems[static_cast<size_t>(child - 1)].percent;
  if (percent <= announced.percent) return;
  // The end is always told; the steps before it at most every 250 ms.
  if (percent < 100 && announced.percent >= 0 && now - announced.percentTick < kValueEventGapMs) return;
  announced.percent = percent;
  announced.percentTick = now;
  NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, window, OBJID_CLIENT, child);
}

}  // namespace

void NotifyFocus(HWND window) {
  NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, ChildOfWidget(InstallerState.focusId));
}

void PrepareFocusForFrame() {
  const Screen screen = CurrentScreen();
  if (announced.any && screen == announced.screen && InstallerState.mode == announced.mode) return;
  announced.any = true;
  announced.screen = screen;
  announced.mode = InstallerState.mode;
  announced.percent = -1;
  // Progress has no button of its own to hold the focus.
  InstallerState.focusId = screen == Progress ? 0 : kMainButton;
  screenPending = true;
}

void AnnounceFrame(HWND window) {
  const std::vector<AccessItem>& items = InstallerState.accessItems;
  const uint64_t now = GetTickCount64();
  if (screenPending) {
    screenPending = false;
    NotifyWinEvent(EVENT_OBJECT_REORDER, window, OBJID_CLIENT, CHILDID_SELF);
    NotifyFocus(window);
    if (announced.screen == Error) {
      // The reason is the error text: the first text after the heading.
      for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].role == TextRole && items[i].rect.Y >= 112) {
          NotifyWinEvent(EVENT_SYSTEM_ALERT, window, OBJID_CLIENT, static_cast<LONG>(i + 1));
          break;
        }
      }
    }
  } else if (announced.items.size() != items.size()) {
    // A text came or went on the same screen (the first status line).
    NotifyWinEvent(EVENT_OBJECT_REORDER, window, OBJID_CLIENT, CHILDID_SELF);
  } else {
    for (size_t i = 0; i < items.size(); ++i) {
      const AccessItem& was = announced.items[i];
      const AccessItem& is = items[i];
      if (was.id != is.id || was.role != is.role) continue;
      const LONG child = static_cast<LONG>(i + 1);
      if (was.checked != is.checked) NotifyWinEvent(EVENT_OBJECT_STATECHANGE, window, OBJID_CLIENT, child);
      if (was.name != is.name) NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, child);
    }
  }
  AnnounceProgress(window, now);
  announced.items = items;
}
