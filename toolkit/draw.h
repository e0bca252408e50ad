// The drawing vocabulary of the window: theme colours, rounded shapes,
// CSS-angle gradients, glows and text. Every operation works in layout units
// (one unit is one pixel at 96 dpi); the DPI scale is applied only by the
// surface's world transform (PrepareSurface). Operations that draw create and
// release their own GDI+ objects within the call.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

#include <cstdint>
#include <string>
#include <vector>

// Theme colours: plain ARGB values, no GDI+ object behind them, so defining
// them at static-initialisation time needs no running GDI+.
extern const Gdiplus::Color colorWhite;   // 0xFFFFFFFF
extern const Gdiplus::Color colorText;    // 0xFFE5E7EB
extern const Gdiplus::Color colorBody;    // 0xFFC3C9D8
extern const Gdiplus::Color colorMuted;   // 0xFFA7AFC2
extern const Gdiplus::Color colorAccent;  // 0xFFEC4899

// The accent gradient: violet, cyan, pink, evenly spread, left to right.
extern const std::vector<Gdiplus::Color> accentGradient;
inline constexpr float accentGradientAngle = 90.0f;

// One of the system's colours (GetSysColor index), opaque.
Gdiplus::Color SystemColor(int index);

// The colour pairs of a high-contrast theme. With `on`, frames are painted
// with these only: no gradient, glow or image behind text (the glows and
// the gradient text of this kit turn themselves into nothing and into
// plain window text).
struct ContrastTheme {
  bool on;
  Gdiplus::Color window, windowText, buttonFace, buttonText, highlight, highlightText, grayText;
};
extern ContrastTheme contrastTheme;
// The system's pairs (GetSysColor), and the fixed pairs of the "high
// contrast black" theme that the exported previews use, so that they do
// not depend on the machine.
ContrastTheme SystemContrastTheme();
ContrastTheme BlackContrastTheme();
// A colour of text or line art: itself, or the window text of a
// high-contrast theme.
Gdiplus::Color Ink(Gdiplus::Color normal);

// Colour from 0xRRGGBB and an alpha of 0-255.
Gdiplus::Color MakeColor(uint32_t rgb, uint8_t alpha);

// Appends one closed rounded-rectangle figure; an over-large radius gives a
// capsule or a circle, never crossing arcs.
void AddRoundedRect(Gdiplus::GraphicsPath& path, const Gdiplus::RectF& rect, float radius);

// The rectangle grown by d on every side (shrunk when d is negative).
Gdiplus::RectF InflateRect(const Gdiplus::RectF& rect, float d);

// The interpolation positions MakeLinearGradient uses: the given ones when
// there is one per colour, otherwise evenly spread ones.
std::vector<float> GradientPositions(size_t colorCount, const std::vector<float>& positions);

// A new brush over the rectangle; angle in the CSS convention (0 = towards the
// top, 90 = towards the right, 180 = towards the bottom). Positions may be
// empty for evenly spread colours. The caller deletes the brush after use.
Gdiplus::LinearGradientBrush* MakeLinearGradient(const Gdiplus::RectF& rect, float angle,
                                                 const std::vector<Gdiplus::Color>& colors,
                                                 const std::vector<float>& positions = {});

// Alpha of layer i (10 = outermost, 1 = innermost) of a soft glow whose
// colour has alpha `alpha`.
uint8_t SoftGlowLayerAlpha(uint8_t alpha, int layer);

// A halo of ten nested translucent rounded rectangles around `rect`.
void FillSoftGlow(Gdiplus::Graphics& g, const Gdiplus::RectF& rect, float radius, Gdiplus::Color color,
                  float spread);

// A disc fading from `color` at its centre to transparent at its rim.
void FillRadialGlow(Gdiplus::Graphics& g, float cx, float cy, float radius, Gdiplus::Color color);

// Text in a layout box. Alignments: near, centre or far. Without wrap, one
// line trimmed in its middle; with wrap, lines break at words.
void DrawTextBox(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family,
                 float size, int style, Gdiplus::Color color, const Gdiplus::RectF& rect,
                 Gdiplus::StringAlignment alignment, Gdiplus::StringAlignment lineAlignment, bool wrap);
// Underlines the first letter of a text drawn by DrawTextBox with the same
// arguments (the Alt letter of a widget).
void UnderlineFirstLetter(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family,
                          float size, int style, Gdiplus::Color color, const Gdiplus::RectF& rect,
                          Gdiplus::StringAlignment alignment, Gdiplus::StringAlignment lineAlignment);
// The string format of DrawTextBox: alignments, wrap or a single line, trimming.
void SetTextBoxFormat(Gdiplus::StringFormat& format, Gdiplus::StringAlignment alignment,
                      Gdiplus::StringAlignment lineAlignment, bool wrap);

// Lays the text out glyph by glyph with `spacing` between letters (one run,
// kerned, when the spacing is 0). Appends the outlines to `path` when given;
// returns the advance width in layout units.
float LayoutSpacedText(Gdiplus::Graphics& g, Gdiplus::GraphicsPath* path, const std::wstring& text,
                       const Gdiplus::FontFamily* family, int style, float size, Gdiplus::PointF origin,
                       float spacing);

float MeasureTextWidth(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family,
                       int style, float size, float spacing);

// Fills the laid-out text with the brush; returns its advance width.
float FillText(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family, int style,
               float size, Gdiplus::PointF origin, const Gdiplus::Brush& brush, float spacing);

// Fills the laid-out text with the accent gradient spanning its inked extent.
float FillGradientText(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family,
                       int style, float size, Gdiplus::PointF origin, float spacing);

// Surface preparation, in two steps because the frame painter copies the
// cached backdrop (already at pixel size) between them:
// the four rendering modes...
void SetSurfaceQuality(Gdiplus::Graphics& g);
// ...then the world scale InstallerState.uiScale.
void ApplyUiScale(Gdiplus::Graphics& g);
// Both steps, for surfaces that draw nothing in pixels.
void PrepareSurface(Gdiplus::Graphics& g);
