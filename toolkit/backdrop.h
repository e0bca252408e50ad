// The cached backdrop: brand panel, screen-area gradient and window border.
#pragma once

#include <windows.h>
#include <gdiplus.h>

#include <string>

extern Gdiplus::Bitmap* backdropBitmap;

void RenderBackdrop(int width, int height);
std::wstring BadgeText();
