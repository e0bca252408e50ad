// The content of one frame: the parts common to every screen and the four
// screens, painted from InstallerState. Window thread only.
#pragma once

#include <windows.h>
// objidl.h first: WIN32_LEAN_AND_MEAN leaves out the COM types that gdiplus.h needs.
#include <gdiplus.h>
#include <objidl.h>

#include <cstdint>
#include <string>

#include "app/state.h"

// Values fixed at the start of a frame and shared by every screen of it.
struct FrameContext {
  uint64_t time;      // GetTickCount64, read once per frame
  bool animationsOn;  // the system's client-area animation preference
  std::wstring status;
  std::wstring error;
};

// Paints a whole frame on a surface of the client size in pixels.
void PaintScreens(Gdiplus::Graphics& g);

// The screen tag: "INSTALLATION", "MISE À JOUR" or "DÉSINSTALLATION", with
// " TERMINÉE" on the Done screen.
std::wstring ScreenTag(Mode mode, Screen screen);

void PaintInstallWelcome(Gdiplus::Graphics& g);
void PaintUninstallWelcome(Gdiplus::Graphics& g);
void PaintProgress(Gdiplus::Graphics& g, const FrameContext& frame);
void PaintDone(Gdiplus::Graphics& g);
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
