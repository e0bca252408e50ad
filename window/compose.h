// Frame composition for the window: the back buffer, a cached layer with
// the still content of the screen, and what each frame tick must repaint.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

// The client rectangle (pixels) that a frame tick must repaint: all of it
// when the still content changed, the progress bar's area on the Progress
// screen, nothing when the frame would come out identical.
RECT TickDamage(int width, int height);

// Composes the frame into the back buffer and copies the `dirty` part of it
// onto `dc`. Returns true when it had to repaint the still content, after
// which every pixel of the client may have changed.
bool ComposeFrame(HDC dc, int width, int height, const RECT& dirty);

// Forgets the cached still content: the next frame repaints it in full.
void DiscardStillLayer();

// Releases the cached layer and the back buffer (end of the window run).
void ReleaseFrameSurfaces();
