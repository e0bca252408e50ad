// Rounded shapes, gradients, glows and the preparation of drawing surfaces.
#include <algorithm>

#include "app/state.h"
#include "toolkit/draw.h"

void AddRoundedRect(Gdiplus::GraphicsPath& path, const Gdiplus::RectF& rect, float radius) {
  const float x = rect.X, y = rect.Y, w = rect.Width, h = rect.Height;
  // Capping the diameter by both sides turns an over-large radius into a
  // capsule or a circle instead of arcs that cross each other.
  const float d = std::min({2.0f * radius, w, h});
  path.AddArc(x, y, d, d, 180.0f, 90.0f);
  path.AddArc(x + w - d, y, d, d, 270.0f, 90.0f);
  path.AddArc(x + w - d, y + h - d, d, d, 0.0f, 90.0f);
  path.AddArc(x, y + h - d, d, d, 90.0f, 90.0f);
  path.CloseFigure();
}

Gdiplus::RectF InflateRect(const Gdiplus::RectF& rect, float d) {
  return Gdiplus::RectF(rect.X - d, rect.Y - d, rect.Width + 2.0f * d, rect.Height + 2.0f * d);
}

std::vector<float> GradientPositions(size_t colorCount, const std::vector<float>& positions) {
  if (positions.size() == colorCount) return positions;
  std::vector<float> even(colorCount, 0.0f);
  if (colorCount >= 2) {
    for (size_t i = 0; i < colorCount; ++i)
      even[i] = static_cast<float>(i) / static_cast<float>(colorCount - 1);
  }
  return even;
}

Gdiplus::LinearGradientBrush* MakeLinearGradient(const Gdiplus::RectF& rect, float angle,
                                                 const std::vector<Gdiplus::Color>& colors,
                                                 const std::vector<float>& positions) {
  if (colors.empty()) return nullptr;
  std::vector<Gdiplus::Color> c = colors;
  std::vector<float> p = GradientPositions(c.size(), positions);
  // Half a unit of slack on every side keeps the edge pixels of the filled
  // shape inside the gradient rather than in its flipped tile. The CSS angle
  // (0 = up, 90 = right) becomes the GDI+ one (0 = right, 90 = down).
  auto* brush =
      new Gdiplus::LinearGradientBrush(InflateRect(rect, 0.5f), c.front(), c.back(), angle - 90.0f, FALSE);
  brush->SetInterpolationColors(c.data(), p.data(), static_cast<INT>(c.size()));
  brush->SetWrapMode(Gdiplus::WrapModeTileFlipX);
  return brush;
}

uint8_t SoftGlowLayerAlpha(uint8_t alpha, int layer) {
  const double t = 1.0 - layer / 11.0;
  return static_cast<uint8_t>(static_cast<int>(alpha * t * t / 10.0 * 2.2));
}

void FillSoftGlow(Gdiplus::Graphics& g, const Gdiplus::RectF& rect, float radius, Gdiplus::Color color,
                  float spread) {
  if (contrastTheme.on) return;
  // Ten nested layers, largest and faintest first: near the shape all of them
  // add up, towards the outer edge only the faint ones remain.
  for (int i = 10; i >= 1; --i) {
    const float s = spread * static_cast<float>(i) / 10.0f;
    Gdiplus::GraphicsPath path;
    AddRoundedRect(path, InflateRect(rect, s), radius + s);
    Gdiplus::SolidBrush brush(
        Gdiplus::Color(SoftGlowLayerAlpha(color.GetA(), i), color.GetR(), color.GetG(), color.GetB()));
    g.FillPath(&brush, &path);
  }
}

void FillRadialGlow(Gdiplus::Graphics& g, float cx, float cy, float radius, Gdiplus::Color color) {
  if (contrastTheme.on) return;
  Gdiplus::GraphicsPath path;
  path.AddEllipse(cx - radius, cy - radius, 2.0f * radius, 2.0f * radius);
  Gdiplus::PathGradientBrush brush(&path);
  brush.SetCenterColor(color);
  Gdiplus::Color rim(0, color.GetR(), color.GetG(), color.GetB());
  INT count = 1;
  brush.SetSurroundColors(&rim, &count);
  g.FillPath(&brush, &path);
}

void SetSurfaceQuality(Gdiplus::Graphics& g) {
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
  g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
}

void ApplyUiScale(Gdiplus::Graphics& g) {
  g.ScaleTransform(InstallerState.uiScale, InstallerState.uiScale, Gdiplus::MatrixOrderPrepend);
}

void PrepareSurface(Gdiplus::Graphics& g) {
  SetSurfaceQuality(g);
  ApplyUiScale(g);
}
