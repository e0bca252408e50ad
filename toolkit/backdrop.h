// The cached backdrop: brand panel, screen-area gradient and window border.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

#include <string>

extern Gdiplus::Bitmap* backdropBitmap;

void RenderBackdrop(int width, int height);
std::wstring BadgeText();

// The maker's web address shown at the foot of the brand panel.
inline constexpr wchar_t kMakerAddress[] = L"norvale.app";
