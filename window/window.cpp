#include "window/window.h"

Gdiplus::Bitmap* backBuffer = nullptr;

// Not built yet: report failure rather than a closed window.
int RunInstallerWindow(HINSTANCE) { return 1; }
