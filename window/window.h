// The installer window and its message loop.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

extern Gdiplus::Bitmap* backBuffer;

// Runs the window until it is destroyed; 1 when it closed on the Error screen, else 0.
int RunInstallerWindow(HINSTANCE instance);

// The body of WM_PAINT, between BeginPaint and EndPaint.
void PaintWindow(HWND window, HDC dc);

// Every user-initiated close: destroys the window unless work is running.
void RequestClose(HWND window);

// Window size in pixels for a scale: 780 x 470 layout units, truncated.
SIZE ScaledWindowSize(float scale);
