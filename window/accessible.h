// The window as screen readers see it (Active Accessibility): an object for
// the client area whose children are the elements of the frame last
// painted, in reading order, and the events that tell readers what changed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/state.h"

// Posted by accDoDefaultAction: the widget id (wParam) acts as if clicked,
// on the window thread, after the caller's call has returned.
inline constexpr UINT kDefaultActionMessage = WM_APP + 28;

// Answers WM_GETOBJECT for the client area; false for other objects (the
// window procedure passes those on).
bool AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam, LRESULT* result);

// Child id (1..N) of widget `id` in the frame last painted; 0 when absent.
long ChildOfWidget(int32_t id);

// What a screen reader reads for an element: its value ("42 %" for the
// progress bar, empty otherwise), keyboard shortcut ("Alt+I" or empty) and
// default action (empty for what has none).
std::wstring AccessValue(const AccessItem& item);
std::wstring AccessShortcut(const AccessItem& item);
std::wstring AccessDefaultAction(const AccessItem& item);

// Raises the focus event for the focused widget (or the window itself).
void NotifyFocus(HWND window);

// Before a frame is painted: a new screen moves the focus to its main
// button (none on Progress).
void PrepareFocusForFrame();

// After a frame was painted: tells readers what changed since the last
// one (new screen, ticks, labels, progress).
void AnnounceFrame(HWND window);
