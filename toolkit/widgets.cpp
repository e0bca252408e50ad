// The immediate-mode widgets and the hit-region registry they fill.
#include "toolkit/widgets.h"

#include <memory>

#include "app/texts.h"
#include "toolkit/assets.h"
#include "toolkit/draw.h"
#include "toolkit/icons.h"

using Gdiplus::Color;
using Gdiplus::RectF;

namespace {

bool IsHovered(int32_t id) { return InstallerState.hoverId == id; }
// A press counts only while the pointer is still over the widget.
bool IsPressed(int32_t id) { return IsHovered(id) && InstallerState.pressedId == id; }

void FillShape(Gdiplus::Graphics& g, const Gdiplus::GraphicsPath& shape, const Gdiplus::Brush& brush) {
  g.FillPath(&brush, &shape);
}

void FillShapeGradient(Gdiplus::Graphics& g, const Gdiplus::GraphicsPath& shape, const RectF& r, Color from,
                       Color to) {
  std::unique_ptr<Gdiplus::LinearGradientBrush> brush(MakeLinearGradient(r, 135.0f, {from, to}, {}));
  if (brush) g.FillPath(brush.get(), &shape);
}

}  // namespace

WidgetLook widgetLook = {0, false};

void AddHitRegion(int32_t id, const RectF& rect) { InstallerState.hitRegions.push_back(HitRegion{id, rect}); }

void AddAccessItem(int32_t id, AccessRole role, const std::wstring& name, const RectF& rect, bool checked,
                   bool isDefault, wchar_t shortcut, int32_t percent) {
  InstallerState.accessItems.push_back(
      AccessItem{id, role, name, rect, checked, isDefault, shortcut, percent});
}

void AddAccessText(const std::wstring& text, const RectF& rect) {
  if (!text.empty()) AddAccessItem(0, TextRole, text, rect);
}

wchar_t ShortcutOf(const std::wstring& label) {
  if (label.empty()) return 0;
  const wchar_t c = label[0];
  return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

void DrawFocusRingFor(Gdiplus::Graphics& g, int32_t id, const RectF& rect, float radius) {
  if (id == 0 || widgetLook.focusId != id) return;
  // White on the dark screen area (over 10:1), two units wide, clear of the
  // widget's own edge so that it reads as a ring and not as a border.
  Gdiplus::GraphicsPath ring;
  AddRoundedRect(ring, rect, radius);
  Gdiplus::Pen pen(contrastTheme.on ? contrastTheme.highlight : colorWhite, 2.0f);
  g.DrawPath(&pen, &ring);
}

int32_t HitRegionAt(float x, float y) {
  for (const HitRegion& region : InstallerState.hitRegions) {
    if (region.rect.Contains(x, y)) return region.id;
  }
  return 0;
}

float DrawButton(Gdiplus::Graphics& g, int32_t id, float x, const std::wstring& label, ButtonKind kind,
                 bool withArrow) {
  const bool hovered = IsHovered(id);
  const bool pressed = IsPressed(id);
  const float p = kind == Ghost ? 22.0f : 28.0f;
  const float lw = MeasureTextWidth(g, label, bodyFamily, Gdiplus::FontStyleBold, 15.0f, 0.0f);
  const float w = 2.0f * p + lw + (withArrow ? 26.0f : 0.0f);
  const RectF r(x, buttonRowY, w, buttonHeight);
  AddHitRegion(id, r);

  Gdiplus::GraphicsPath shape;
  AddRoundedRect(shape, r, buttonRadius);
  if (contrastTheme.on) {
    // The default button in the highlight pair, the others in the button
    // pair; hovering thickens the outline.
    const bool main = kind != Ghost;
    Gdiplus::SolidBrush fill(main ? contrastTheme.highlight : contrastTheme.buttonFace);
    FillShape(g, shape, fill);
    Gdiplus::GraphicsPath outline;
    AddRoundedRect(outline, InflateRect(r, -1.0f), buttonRadius - 1.0f);
    Gdiplus::Pen pen(main ? contrastTheme.highlightText : contrastTheme.buttonText, hovered ? 2.0f : 1.0f);
    g.DrawPath(&pen, &outline);
  } else if (kind == Ghost) {
    Gdiplus::SolidBrush fill(MakeColor(0xFFFFFF, hovered ? 22 : 13));
    FillShape(g, shape, fill);
    Gdiplus::GraphicsPath outline;
    AddRoundedRect(outline, InflateRect(r, -0.5f), buttonRadius - 0.5f);
    Gdiplus::Pen pen(MakeColor(0xFFFFFF, hovered ? 56 : 31), 1.0f);
    g.DrawPath(&pen, &outline);
  } else {
    if (kind == Primary) {
      FillSoftGlow(g, r, buttonRadius, Color(0x40DB2777), 40.0f);
      FillSoftGlow(g, r, buttonRadius, Color(0x99A855F7), 24.0f);
      FillShapeGradient(g, shape, r, Color(0xFF7C3AED), Color(0xFFDB2777));
    } else {
      FillSoftGlow(g, r, buttonRadius, Color(0x80EC4899), 24.0f);
      FillShapeGradient(g, shape, r, Color(0xFFBE185D), Color(0xFF7C3AED));
    }
    if (hovered) {
      // A pressed button is lit less than a merely hovered one.
      Gdiplus::SolidBrush veil(MakeColor(0xFFFFFF, pressed ? 18 : 30));
      FillShape(g, shape, veil);
    }
    Gdiplus::Pen highlight(MakeColor(0xFFFFFF, kind == Danger ? 60 : 70), 1.0f);
    g.DrawLine(&highlight, x + 14.0f, buttonRowY + 1.0f, x + w - 14.0f, buttonRowY + 1.0f);
  }

  Color c = kind == Ghost ? colorText : colorWhite;
  if (contrastTheme.on) c = kind == Ghost ? contrastTheme.buttonText : contrastTheme.highlightText;
  const RectF labelBox(x + p - 2.0f, buttonRowY, lw + 8.0f, 50.0f);
  DrawTextBox(g, label, bodyFamily, 15.0f, Gdiplus::FontStyleBold, c, labelBox, Gdiplus::StringAlignmentNear,
              Gdiplus::StringAlignmentCenter, false);
  if (widgetLook.shortcuts) {
    UnderlineFirstLetter(g, label, bodyFamily, 15.0f, Gdiplus::FontStyleBold, c, labelBox,
                         Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
  }
  if (withArrow) DrawIcon(g, iconArrow, x + p + lw + 10.0f, buttonRowY + 17.0f, 16.0f, c, 2.0f);
  DrawFocusRingFor(g, id, InflateRect(r, 3.0f), buttonRadius + 3.0f);
  // The button of the primary or destructive look is the screen's default.
  AddAccessItem(id, ButtonRole, label, r, false, kind != Ghost, ShortcutOf(label));
  return w;
}

void DrawCheckRow(Gdiplus::Graphics& g, int32_t id, float y, const std::wstring& label, bool checked) {
  const bool hovered = IsHovered(id);
  AddHitRegion(id, RectF(340.0f, y, 400.0f, 44.0f));

  const RectF b(340.0f, y + 11.0f, 22.0f, 22.0f);
  if (contrastTheme.on) {
    Gdiplus::GraphicsPath box;
    AddRoundedRect(box, InflateRect(b, -0.75f), 6.25f);
    if (checked) {
      Gdiplus::SolidBrush fill(contrastTheme.highlight);
      g.FillPath(&fill, &box);
      DrawIcon(g, iconCheck, b.X + 4.5f, b.Y + 4.5f, 13.0f, contrastTheme.highlightText, 2.4f);
    }
    Gdiplus::Pen pen(contrastTheme.windowText, hovered ? 2.5f : 1.5f);
    g.DrawPath(&pen, &box);
  } else if (checked) {
    Gdiplus::GraphicsPath shape;
    AddRoundedRect(shape, b, 7.0f);
    FillSoftGlow(g, b, 7.0f, Color(0x99A855F7), 10.0f);
    FillShapeGradient(g, shape, b, Color(0xFF8B5CF6), Color(0xFFEC4899));
    DrawIcon(g, iconCheck, b.X + 4.5f, b.Y + 4.5f, 13.0f, colorWhite, 2.4f);
  } else {
    // The outline sits inside the box so that its outer edge is the box's.
    Gdiplus::GraphicsPath outline;
    AddRoundedRect(outline, InflateRect(b, -0.75f), 6.25f);
    Gdiplus::Pen pen(MakeColor(0xFFFFFF, hovered ? 115 : 64), 1.5f);
    g.DrawPath(&pen, &outline);
  }

  const Color c = contrastTheme.on ? contrastTheme.windowText : hovered ? colorWhite : colorText;
  const RectF labelBox(374.0f, y, 366.0f, 44.0f);
  DrawTextBox(g, label, bodyFamily, 14.0f, Gdiplus::FontStyleRegular, c, labelBox,
              Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter, false);
  if (widgetLook.shortcuts) {
    UnderlineFirstLetter(g, label, bodyFamily, 14.0f, Gdiplus::FontStyleRegular, c, labelBox,
                         Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
  }
  // Inside the row vertically: rows follow each other without a gap.
  DrawFocusRingFor(g, id, RectF(333.0f, y + 4.0f, 407.0f, 36.0f), 10.0f);
  AddAccessItem(id, CheckRole, label, RectF(340.0f, y, 400.0f, 44.0f), checked, false, ShortcutOf(label));
}

float DrawHeading(Gdiplus::Graphics& g, const std::wstring& plain, const std::wstring& accented,
                  const std::wstring& subtitle, Color color) {
  Gdiplus::SolidBrush brush(contrastTheme.on ? contrastTheme.windowText : color);
  float w1 = 0.0f;
  if (!plain.empty()) {
    w1 = FillText(g, plain, displayFamily, Gdiplus::FontStyleBold, 36.0f, Gdiplus::PointF(338.0f, 59.0f),
                  brush, -1.44f);
  }
  if (!accented.empty()) {
    FillGradientText(g, accented, displayFamily, Gdiplus::FontStyleBold, 36.0f,
                     Gdiplus::PointF(338.0f + w1, 59.0f), -1.44f);
  }
  const RectF subtitleBox(338.0f, 112.0f, 400.0f, 40.0f);
  DrawTextBox(g, subtitle, bodyFamily, 14.0f, Gdiplus::FontStyleRegular,
              contrastTheme.on ? contrastTheme.windowText : colorMuted, subtitleBox,
              Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear, true);
  AddAccessText(plain + accented, RectF(338.0f, 59.0f, 400.0f, 48.0f));
  AddAccessText(subtitle, subtitleBox);
  return headingBottom;
}

void DrawCaptionButton(Gdiplus::Graphics& g, int32_t id, float x, bool isClose) {
  const bool hovered = IsHovered(id);
  const RectF r(x, 0.0f, 44.0f, 44.0f);
  AddHitRegion(id, r);
  if (hovered) {
    Gdiplus::SolidBrush fill(contrastTheme.on ? contrastTheme.highlight
                             : isClose        ? Color(0xFFE81123)
                                              : Color(0x14FFFFFF));
    g.FillRectangle(&fill, r);
  }
  Color c = isClose && hovered ? colorWhite : colorMuted;
  if (contrastTheme.on) c = hovered ? contrastTheme.highlightText : contrastTheme.windowText;
  DrawIcon(g, isClose ? iconClose : iconMinimize, x + 15.0f, 15.0f, 14.0f, c, 1.8f);
  DrawFocusRingFor(g, id, InflateRect(r, -3.0f), 4.0f);
  AddAccessItem(id, ButtonRole, isClose ? kCloseLabel : kMinimizeLabel, r);
}
