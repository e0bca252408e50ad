// The backdrop: everything of the window that stays put while it is open,
// painted once per client size and copied as one bitmap every frame.
#include "toolkit/backdrop.h"

#include <memory>

#include "app/state.h"
#include "app/texts.h"
#include "toolkit/assets.h"
#include "toolkit/draw.h"

using Gdiplus::Color;
using Gdiplus::PointF;
using Gdiplus::RectF;

Gdiplus::Bitmap* backdropBitmap = nullptr;

std::wstring BadgeText() {
  if (InstallerState.version.empty()) return kBeta;
  return kBeta + std::wstring(L" \u00B7 v") + InstallerState.version;
}

namespace {

void DrawWholeImage(Gdiplus::Graphics& g, Gdiplus::Bitmap* image, const RectF& destination) {
  g.DrawImage(image, destination, 0.0f, 0.0f, static_cast<float>(image->GetWidth()),
              static_cast<float>(image->GetHeight()), Gdiplus::UnitPixel);
}

// The product name is set at 46 units with -2.3 spacing from x = 26. In the
// display face the full name is about 300 units wide and would run under the
// screen area at x = 300, which is painted after it and would cut its last
// letter. A name too wide for the panel is therefore scaled down (size and
// spacing alike) to end 22 units before the panel's edge, its baseline kept.
constexpr float kNameSize = 46.0f;
constexpr float kNameSpacing = -2.3f;
constexpr float kNameMaxWidth = 300.0f - 26.0f - 22.0f;

void DrawProductName(Gdiplus::Graphics& g) {
  float size = kNameSize;
  float spacing = kNameSpacing;
  PointF origin(26.0f, 234.0f);
  const float width = MeasureTextWidth(g, kProductName, displayFamily, Gdiplus::FontStyleBold, size, spacing);
  if (width > kNameMaxWidth && displayFamily != nullptr) {
    const float k = kNameMaxWidth / width;
    size *= k;
    spacing *= k;
    const UINT16 em = displayFamily->GetEmHeight(Gdiplus::FontStyleBold);
    const float ascent =
        em > 0 ? static_cast<float>(displayFamily->GetCellAscent(Gdiplus::FontStyleBold)) / em : 0.0f;
    origin.Y += ascent * (kNameSize - size);
  }
  Gdiplus::GraphicsPath path;
  LayoutSpacedText(g, &path, kProductName, displayFamily, Gdiplus::FontStyleBold, size, origin, spacing);
  // White over the upper third of the letters, then fading to lavender.
  RectF bounds;
  path.GetBounds(&bounds);
  std::unique_ptr<Gdiplus::LinearGradientBrush> brush(
      MakeLinearGradient(bounds, 180.0f, {colorWhite, colorWhite, Color(0xFFC9BCFF)}, {0.0f, 0.35f, 1.0f}));
  if (brush) g.FillPath(brush.get(), &path);
}

void DrawTagline(Gdiplus::Graphics& g) {
  Gdiplus::SolidBrush brush(colorText);
  // The first part's trailing space is measured, so it separates the two.
  const float w = FillText(g, L"Your browser. ", displayMediumFamily, Gdiplus::FontStyleRegular, 16.0f,
                           PointF(28.0f, 291.0f), brush, 0.0f);
  FillGradientText(g, L"Your rules.", displayFamily, Gdiplus::FontStyleBold, 16.0f, PointF(28.0f + w, 291.0f),
                   0.0f);
}

void DrawBadge(Gdiplus::Graphics& g) {
  const std::wstring text = BadgeText();
  const float bw = MeasureTextWidth(g, text, monoFamily, Gdiplus::FontStyleRegular, 11.0f, 0.0f) + 20.0f;
  const RectF r(28.0f, 402.0f, bw, 24.0f);
  Gdiplus::GraphicsPath shape;
  AddRoundedRect(shape, r, 7.0f);
  Gdiplus::SolidBrush fill(Color(0x2EEC4899));
  g.FillPath(&fill, &shape);
  Gdiplus::Pen outline(Color(0x73F9A8D4), 1.0f);
  g.DrawPath(&outline, &shape);
  DrawTextBox(g, text, monoFamily, 11.0f, Gdiplus::FontStyleRegular, Color(0xFFFFE4F1), r,
              Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter, false);
}

}  // namespace

void RenderBackdrop(int width, int height) {
  delete backdropBitmap;
  backdropBitmap = nullptr;
  // A minimised window reports an empty client area: keep no bitmap rather
  // than an invalid one, and let the next paint with a real size render it.
  if (width <= 0 || height <= 0) return;
  backdropBitmap = new Gdiplus::Bitmap(width, height, PixelFormat32bppPARGB);
  if (backdropBitmap->GetLastStatus() != Gdiplus::Ok) {
    delete backdropBitmap;
    backdropBitmap = nullptr;
    return;
  }
  Gdiplus::Graphics g(backdropBitmap);
  PrepareSurface(g);

  // Brand panel: base, artwork, glows over the artwork, then logo and texts.
  Gdiplus::SolidBrush base(Color(0xFF080B16));
  g.FillRectangle(&base, RectF(0.0f, 0.0f, 300.0f, 470.0f));
  if (brandImage != nullptr) DrawWholeImage(g, brandImage, RectF(0.0f, 0.0f, 300.0f, 470.0f));
  FillRadialGlow(g, 80.0f, 172.0f, 78.0f, Color(0x698B5CF6));
  FillRadialGlow(g, 84.0f, 176.0f, 110.0f, Color(0x26EC4899));
  if (logoImage != nullptr) DrawWholeImage(g, logoImage, RectF(28.0f, 120.0f, 104.0f, 104.0f));
  DrawProductName(g);
  DrawTagline(g);
  DrawBadge(g);
  DrawTextBox(g, kMakerAddress, monoFamily, 11.0f, Gdiplus::FontStyleRegular, colorMuted,
              RectF(28.0f, 433.0f, 240.0f, 16.0f), Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear,
              false);

  // Screen area and the border around the whole window.
  const RectF screenArea(300.0f, 0.0f, 480.0f, 470.0f);
  std::unique_ptr<Gdiplus::LinearGradientBrush> screenBrush(
      MakeLinearGradient(screenArea, 180.0f, {Color(0xFF0F1428), Color(0xFF0B0F1A)}, {}));
  if (screenBrush) g.FillRectangle(screenBrush.get(), screenArea);
  // The border is the 1-unit outline whose centre line runs from (0.5, 0.5)
  // to (779.5, 469.5), so its outer edge is the window's edge. It is filled as
  // a ring rather than stroked: some GDI+ implementations round one-pixel
  // pens by half a pixel, which at 96 dpi would push two sides of the border
  // out of the bitmap. The filled ring covers exactly the same area.
  Gdiplus::GraphicsPath ring(Gdiplus::FillModeAlternate);
  ring.AddRectangle(RectF(0.0f, 0.0f, 780.0f, 470.0f));
  ring.AddRectangle(RectF(1.0f, 1.0f, 778.0f, 468.0f));
  Gdiplus::SolidBrush border(Color(0x40C4B5FD));
  g.FillPath(&border, &ring);
}
