// The content of one frame: the parts common to every screen and the four
// screens, painted from InstallerState. Window thread only.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

#include <cstdint>
#include <string>

#include "app/state.h"

// Values fixed at the start of a frame and shared by every screen of it.
// Everything but the time and the animation preference decides the still
// content of the frame; those two only move the progress bar's animation.
struct FrameContext {
  uint64_t time;      // GetTickCount64, read once per frame
  bool animationsOn;  // the system's client-area animation preference
  Screen screen;      // read once, so every element of the frame agrees
  Mode mode;
  uint64_t bytesDone;  // each counter loaded once per frame
  uint64_t bytesTotal;
  std::wstring status;  // copies taken under statusMutex
  std::wstring error;
  float uiScale;
  int32_t hoverId;
  int32_t pressedId;
  bool createDesktopShortcut;
  bool launchAtEnd;
  bool removeUserData;
  std::wstring installDir;
  int32_t focusRing;  // widget whose focus ring shows, 0 for none
  bool shortcuts;     // Alt letters underlined
  bool highContrast;  // painted with the system's colour pairs

  // True when both frames show the same still content.
  bool SameContent(const FrameContext& other) const;
};

// Reads the per-frame values from InstallerState.
FrameContext CaptureFrame();

// The system's keyboard-cues setting: focus rings and Alt letters always shown.
bool KeyboardCuesOn();

// Which elements of a frame to paint. The window keeps the still elements
// (Still) in a cached layer and paints only the animated ones (Animated,
// the progress bar and its cursor) over a copy of it on each tick; Whole is
// both, in one pass, as the preview export paints.
enum class FramePart { Whole, Still, Animated };

// Paints a whole frame on a surface of the client size in pixels.
void PaintScreens(Gdiplus::Graphics& g);

// Paints part of a frame. With backdropInPlace the surface already holds the
// backdrop's pixels and it is not drawn again. Still and Whole empty and
// refill the hit regions; Animated registers none.
void PaintFrame(Gdiplus::Graphics& g, const FrameContext& frame, FramePart part, bool backdropInPlace);

// The layout rectangle that holds every animated element of the Progress
// screen: the bar with its glows, the line below it and the cursor.
Gdiplus::RectF AnimatedArea();

// The screen tag: "INSTALLATION", "MISE À JOUR" or "DÉSINSTALLATION", with
// " TERMINÉE" on the Done screen.
std::wstring ScreenTag(Mode mode, Screen screen);

void PaintInstallWelcome(Gdiplus::Graphics& g, const FrameContext& frame);
void PaintUninstallWelcome(Gdiplus::Graphics& g, const FrameContext& frame);
void PaintProgress(Gdiplus::Graphics& g, const FrameContext& frame, FramePart part);
void PaintDone(Gdiplus::Graphics& g, const FrameContext& frame);
void PaintError(Gdiplus::Graphics& g, const FrameContext& frame);

// What the Progress screen shows for a pair of counters.
struct ProgressValues {
  uint64_t total;  // never 0
  uint64_t done;   // at most total
  float fraction;  // 0 to 1
  int percent;     // truncated, 0 to 100
  float fill;      // bar length in layout units, 12 to 400
};

ProgressValues ComputeProgress(uint64_t bytesDone, uint64_t bytesTotal);

// "103 Mo / 160 Mo", or empty when the line is not shown (uninstall, or a
// total of 1 MiB or less).
std::wstring SizesLine(const ProgressValues& values, Mode mode);

// How far the bar's colours have flowed at frame time t (0 when still).
float ShimmerOffset(uint64_t t, float fill, bool animationsOn);

// Whether the blinking "_" is visible at frame time t.
bool CursorShown(uint64_t t, bool animationsOn);
