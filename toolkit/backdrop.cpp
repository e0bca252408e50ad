#include "toolkit/backdrop.h"

Gdiplus::Bitmap* backdropBitmap = nullptr;

void RenderBackdrop(int, int) {}
std::wstring BadgeText() { return L""; }
