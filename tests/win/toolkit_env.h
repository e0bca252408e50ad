// GDI+ for the toolkit tests: started once per test program, with the
// embedded assets loaded, unless the program runs as a child that must not
// touch GDI+ at all (NORVALE_TOOLKIT_CHILD=silent).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/state.h"
#include "toolkit/assets.h"
#include "toolkit/backdrop.h"

inline std::wstring ChildMode() {
  wchar_t value[64] = {};
  DWORD n = GetEnvironmentVariableW(L"NORVALE_TOOLKIT_CHILD", value, 64);
  return n > 0 && n < 64 ? std::wstring(value) : std::wstring();
}

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (ChildMode() == L"silent") return;
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    LoadEmbeddedAssets();
  }
  void TearDown() override {
    if (token_ == 0) return;
    delete backdropBitmap;
    backdropBitmap = nullptr;
    ReleaseEmbeddedAssets();
    Gdiplus::GdiplusShutdown(token_);
  }

 private:
  ULONG_PTR token_ = 0;
};

// True when the test program carries the resources of the setup program.
inline bool HasEmbeddedResources() {
  return FindResourceW(nullptr, MAKEINTRESOURCEW(101), RT_RCDATA) != nullptr;
}

// A premultiplied surface of w x h pixels, drawn on at uiScale 1.
struct Surface {
  Surface(int w, int h, uint32_t background = 0xFF000000) : bitmap(w, h, PixelFormat32bppPARGB), g(&bitmap) {
    InstallerState.uiScale = 1.0f;
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.Clear(Gdiplus::Color(background));
  }
  Gdiplus::Color At(int x, int y) {
    g.Flush(Gdiplus::FlushIntentionSync);
    Gdiplus::Color c;
    bitmap.GetPixel(x, y, &c);
    return c;
  }
  Gdiplus::Bitmap bitmap;
  Gdiplus::Graphics g;
};

inline Gdiplus::Color PixelOf(Gdiplus::Bitmap* bitmap, int x, int y) {
  Gdiplus::Color c;
  bitmap->GetPixel(x, y, &c);
  return c;
}

// Channel-wise comparison within a tolerance; prints both colours on failure.
inline ::testing::AssertionResult ColorNear(Gdiplus::Color actual, uint32_t expected, int tolerance) {
  Gdiplus::Color e(expected);
  const int d[4] = {actual.GetA() - e.GetA(), actual.GetR() - e.GetR(), actual.GetG() - e.GetG(),
                    actual.GetB() - e.GetB()};
  for (int v : d) {
    if (std::abs(v) > tolerance) {
      char text[96];
      snprintf(text, sizeof(text), "colour %08lX, expected %08X (tolerance %d)",
               static_cast<unsigned long>(actual.GetValue()), expected, tolerance);
      return ::testing::AssertionFailure() << text;
    }
  }
  return ::testing::AssertionSuccess();
}

// Source-over of an ARGB colour on an opaque background, as 0xFFRRGGBB.
inline uint32_t Over(uint32_t background, uint32_t color) {
  const double a = ((color >> 24) & 0xFF) / 255.0;
  uint32_t out = 0xFF000000;
  for (int shift : {16, 8, 0}) {
    const double c = ((color >> shift) & 0xFF) * a + ((background >> shift) & 0xFF) * (1.0 - a);
    out |= static_cast<uint32_t>(c + 0.5) << shift;
  }
  return out;
}
