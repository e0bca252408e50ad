// The installer window and its message loop.
#pragma once

#include <windows.h>
// objidl.h first: WIN32_LEAN_AND_MEAN leaves out the COM types that gdiplus.h needs.
#include <gdiplus.h>
#include <objidl.h>

extern Gdiplus::Bitmap* backBuffer;

// Runs the window until it is destroyed; 1 when it closed on the Error screen, else 0.
int RunInstallerWindow(HINSTANCE instance);

// The body of WM_PAINT, between BeginPaint and EndPaint.
void PaintWindow(HWND window, HDC dc);

// Every user-initiated close: destroys the window unless work is running.
void RequestClose(HWND window);

// Window size in pixels for a scale: 780 x 470 layout units, truncated.
SIZE ScaledWindowSize(float scale);
