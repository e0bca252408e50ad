// Text in layout boxes, and text laid out as glyph outlines with letter
// spacing (measured, filled with a brush, or filled with the accent gradient).
#include <memory>

#include "toolkit/draw.h"

void DrawTextBox(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family,
                 float size, int style, Gdiplus::Color color, const Gdiplus::RectF& rect,
                 Gdiplus::StringAlignment alignment, Gdiplus::StringAlignment lineAlignment, bool wrap) {
  if (family == nullptr) return;
  Gdiplus::Font font(family, size, style, Gdiplus::UnitPixel);
  Gdiplus::SolidBrush brush(color);
  Gdiplus::StringFormat format(0, LANG_NEUTRAL);
  SetTextBoxFormat(format, alignment, lineAlignment, wrap);
  g.DrawString(text.c_str(), -1, &font, rect, &format, &brush);
}

void UnderlineFirstLetter(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family,
                          float size, int style, Gdiplus::Color color, const Gdiplus::RectF& rect,
                          Gdiplus::StringAlignment alignment, Gdiplus::StringAlignment lineAlignment) {
  if (family == nullptr || text.empty()) return;
  Gdiplus::Font font(family, size, style, Gdiplus::UnitPixel);
  Gdiplus::StringFormat format(0, LANG_NEUTRAL);
  SetTextBoxFormat(format, alignment, lineAlignment, false);
  // The letter's box as the text box lays it out, so the line sits exactly
  // under it whatever the alignment.
  const Gdiplus::CharacterRange first(0, 1);
  format.SetMeasurableCharacterRanges(1, &first);
  Gdiplus::Region region;
  if (g.MeasureCharacterRanges(text.c_str(), -1, &font, rect, &format, 1, &region) != Gdiplus::Ok) return;
  Gdiplus::RectF box;
  if (region.GetBounds(&box, &g) != Gdiplus::Ok || box.Width <= 0) return;
  const float ascent = size * family->GetCellAscent(style) / family->GetEmHeight(style);
  const float y = box.Y + ascent + 1.5f;
  Gdiplus::Pen pen(color, 1.0f);
  g.DrawLine(&pen, box.X + 0.5f, y, box.X + box.Width - 0.5f, y);
}

void SetTextBoxFormat(Gdiplus::StringFormat& format, Gdiplus::StringAlignment alignment,
                      Gdiplus::StringAlignment lineAlignment, bool wrap) {
  format.SetAlignment(alignment);
  format.SetLineAlignment(lineAlignment);
  if (wrap) {
    format.SetTrimming(Gdiplus::StringTrimmingEllipsisWord);
  } else {
    // One line; a path too long for the box loses its middle, so that both
    // its drive and its last folder stay readable.
    format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
    format.SetTrimming(Gdiplus::StringTrimmingEllipsisPath);
  }
}

float LayoutSpacedText(Gdiplus::Graphics& g, Gdiplus::GraphicsPath* path, const std::wstring& text,
                       const Gdiplus::FontFamily* family, int style, float size, Gdiplus::PointF origin,
                       float spacing) {
  if (family == nullptr || text.empty()) return 0.0f;
  const Gdiplus::StringFormat* typographic = Gdiplus::StringFormat::GenericTypographic();
  if (typographic == nullptr) return 0.0f;
  std::unique_ptr<Gdiplus::StringFormat> format(typographic->Clone());
  if (!format) return 0.0f;
  // Typographic layout drops the trailing space from measurements; keep it, so
  // that text placed after "Your browser. " starts one space further on.
  format->SetFormatFlags(format->GetFormatFlags() | Gdiplus::StringFormatFlagsMeasureTrailingSpaces);
  Gdiplus::Font font(family, size, style, Gdiplus::UnitPixel);
  const Gdiplus::PointF zero(0.0f, 0.0f);

  if (spacing == 0.0f) {
    if (path != nullptr) path->AddString(text.c_str(), -1, family, style, size, origin, format.get());
    Gdiplus::RectF box;
    g.MeasureString(text.c_str(), -1, &font, zero, format.get(), &box);
    return box.Width;
  }

  // Glyph by glyph: each character is measured alone (so pairs are not
  // kerned) and the spacing goes between characters only.
  float x = origin.X;
  for (size_t i = 0; i < text.size(); ++i) {
    if (path != nullptr) {
      path->AddString(&text[i], 1, family, style, size, Gdiplus::PointF(x, origin.Y), format.get());
    }
    Gdiplus::RectF box;
    g.MeasureString(&text[i], 1, &font, zero, format.get(), &box);
    x += box.Width;
    if (i + 1 < text.size()) x += spacing;
  }
  return x - origin.X;
}

float MeasureTextWidth(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family,
                       int style, float size, float spacing) {
  return LayoutSpacedText(g, nullptr, text, family, style, size, Gdiplus::PointF(0.0f, 0.0f), spacing);
}

float FillText(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family, int style,
               float size, Gdiplus::PointF origin, const Gdiplus::Brush& brush, float spacing) {
  Gdiplus::GraphicsPath path(Gdiplus::FillModeAlternate);
  const float width = LayoutSpacedText(g, &path, text, family, style, size, origin, spacing);
  g.FillPath(&brush, &path);
  return width;
}

float FillGradientText(Gdiplus::Graphics& g, const std::wstring& text, const Gdiplus::FontFamily* family,
                       int style, float size, Gdiplus::PointF origin, float spacing) {
  Gdiplus::GraphicsPath path(Gdiplus::FillModeAlternate);
  const float width = LayoutSpacedText(g, &path, text, family, style, size, origin, spacing);
  if (contrastTheme.on) {
    Gdiplus::SolidBrush plain(contrastTheme.windowText);
    g.FillPath(&plain, &path);
    return width;
  }
  // The gradient spans exactly the inked extent of the text.
  Gdiplus::RectF bounds;
  path.GetBounds(&bounds);
  std::unique_ptr<Gdiplus::LinearGradientBrush> brush(
      MakeLinearGradient(bounds, accentGradientAngle, accentGradient, {}));
  if (brush) g.FillPath(brush.get(), &path);
  return width;
}
