// Images and fonts compiled into the executable, loaded once per window or
// preview run and deleted by the entry point before GDI+ shuts down.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

#include <cstddef>
#include <cstdint>
#include <vector>

extern Gdiplus::Bitmap* logoImage;
extern Gdiplus::Bitmap* brandImage;
extern Gdiplus::PrivateFontCollection* privateFonts;
extern Gdiplus::FontFamily* displayFamily;
extern Gdiplus::FontFamily* displayMediumFamily;
extern Gdiplus::FontFamily* bodyFamily;
extern Gdiplus::FontFamily* monoFamily;

Gdiplus::Bitmap* LoadResourceImage(uint16_t id);
// A font resource (an LZMS buffered container) expanded into *file; false,
// with *file empty, when the bytes are not such a container or do not decode.
bool ExpandFontResource(const void* bytes, size_t size, std::vector<uint8_t>* file);
Gdiplus::FontFamily* OpenFontFamily(const wchar_t* name, const wchar_t* fallback);
// Fills the images and families above; call once after GdiplusStartup.
void LoadEmbeddedAssets();
// Deletes them (images, families, then the collection they refer to) and
// resets them to none; call before GdiplusShutdown.
void ReleaseEmbeddedAssets();
