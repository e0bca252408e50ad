// The installer window and its message loop.
#pragma once

#include <windows.h>
#include <gdiplus.h>

extern Gdiplus::Bitmap* backBuffer;

// Runs the window until it is destroyed; 1 when it closed on the Error screen, else 0.
int RunInstallerWindow(HINSTANCE instance);
