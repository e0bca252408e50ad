#include "toolkit/assets.h"

Gdiplus::Bitmap* logoImage = nullptr;
Gdiplus::Bitmap* brandImage = nullptr;
Gdiplus::PrivateFontCollection* privateFonts = nullptr;
Gdiplus::FontFamily* displayFamily = nullptr;
Gdiplus::FontFamily* displayMediumFamily = nullptr;
Gdiplus::FontFamily* bodyFamily = nullptr;
Gdiplus::FontFamily* monoFamily = nullptr;

Gdiplus::Bitmap* LoadResourceImage(uint16_t) { return nullptr; }
Gdiplus::FontFamily* OpenFontFamily(const wchar_t*, const wchar_t*) { return nullptr; }
void LoadEmbeddedAssets() {}
