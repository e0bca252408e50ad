// Immediate-mode widgets: each call paints one element of the current frame
// and registers its hit rectangle in InstallerState.hitRegions. The look
// follows InstallerState.hoverId and pressedId at the time of the call.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

#include <cstdint>
#include <string>

#include "app/state.h"

enum ButtonKind : int32_t { Primary = 0, Danger = 1, Ghost = 2 };

// Fixed geometry, layout units.
inline constexpr float buttonRowY = 384.0f;
inline constexpr float buttonHeight = 50.0f;
inline constexpr float buttonRadius = 13.0f;
inline constexpr float headingBottom = 129.0f;

// How the frame being painted shows keyboard use and the theme. The frame
// painter sets it before any widget is drawn; an exported preview keeps it
// all off.
struct WidgetLook {
  int32_t focusId;  // widget that shows the focus ring, 0 for none
  bool shortcuts;   // Alt letters underlined
};
extern WidgetLook widgetLook;

// Appends {id, rect} to InstallerState.hitRegions (no duplicate check).
void AddHitRegion(int32_t id, const Gdiplus::RectF& rect);

// Appends one element to InstallerState.accessItems, the frame's elements
// in reading order as a screen reader reads them.
void AddAccessItem(int32_t id, AccessRole role, const std::wstring& name, const Gdiplus::RectF& rect,
                   bool checked = false, bool isDefault = false, wchar_t shortcut = 0, int32_t percent = 0);
// A text of the frame, read as static text (nothing when it is empty).
void AddAccessText(const std::wstring& text, const Gdiplus::RectF& rect);

// The Alt letter of a widget label: its first letter, upper case (the
// labels of one screen start with different letters).
wchar_t ShortcutOf(const std::wstring& label);

// The keyboard focus ring around `rect` when widget `id` has the focus.
void DrawFocusRingFor(Gdiplus::Graphics& g, int32_t id, const Gdiplus::RectF& rect, float radius);

// Id of the first registered region containing the point (layout units), 0
// when none: overlapping regions resolve to the one registered first.
int32_t HitRegionAt(float x, float y);

// A pill button with its left edge at x on the button row; returns its width.
float DrawButton(Gdiplus::Graphics& g, int32_t id, float x, const std::wstring& label, ButtonKind kind,
                 bool withArrow);

// A check box and its label in the 400 x 44 row at (340, y).
void DrawCheckRow(Gdiplus::Graphics& g, int32_t id, float y, const std::wstring& label, bool checked);

// A screen title (plain part, then accented part in the accent gradient) and
// its subtitle; returns 129, where the screen's content may begin.
float DrawHeading(Gdiplus::Graphics& g, const std::wstring& plain, const std::wstring& accented,
                  const std::wstring& subtitle, Gdiplus::Color color);

// A 44 x 44 caption button at (x, 0): close (red when hovered) or minimise.
void DrawCaptionButton(Gdiplus::Graphics& g, int32_t id, float x, bool isClose);
