// The drawing kit, icons, widgets and backdrop, checked on real GDI+ surfaces
// by sampling colours (with a small tolerance) and by the numbers the
// operations promise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "toolkit/draw.h"
#include "toolkit/icons.h"
#include "toolkit/widgets.h"
#include "toolkit_env.h"

namespace {

using Gdiplus::Color;
using Gdiplus::PointF;
using Gdiplus::RectF;

const auto* const gdiplusEnvironment = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// --- drawing kit ---------------------------------------------------------

TEST(DrawKit, MakeColorSplitsRgbAndAlpha) {
  EXPECT_EQ(MakeColor(0xF9A8D4, 255).GetValue(), 0xFFF9A8D4u);
  EXPECT_EQ(MakeColor(0x123456, 0x1E).GetValue(), 0x1E123456u);
  EXPECT_EQ(InflateRect(RectF(10, 20, 30, 40), -0.5f).Width, 29.0f);
  EXPECT_EQ(InflateRect(RectF(10, 20, 30, 40), 2.0f).Y, 18.0f);
}

TEST(DrawKit, SoftGlowLayerAlphas) {
  const struct {
    uint8_t alpha;
    int layers[10];  // outermost (i = 10) to innermost (i = 1)
  } cases[] = {{128, {0, 0, 2, 3, 5, 8, 11, 14, 18, 23}},
               {64, {0, 0, 1, 1, 2, 4, 5, 7, 9, 11}},
               {153, {0, 1, 2, 4, 6, 10, 13, 17, 22, 27}}};
  for (const auto& c : cases) {
    for (int i = 10; i >= 1; --i)
      EXPECT_EQ(SoftGlowLayerAlpha(c.alpha, i), c.layers[10 - i]) << c.alpha << " " << i;
  }
}

TEST(DrawKit, SoftGlowStacksItsLayersOutward) {
  Surface s(200, 200, 0x00000000);
  // Small corners, so that along the middle of the left side each layer's
  // edge lies exactly s = 2i units left of the rectangle.
  FillSoftGlow(s.g, RectF(60, 60, 80, 80), 1.0f, Color(0x80FF0000), 20.0f);
  auto stacked = [](int from) {  // alpha of layers from..10 over each other
    double clear = 1.0;
    for (int i = from; i <= 10; ++i) clear *= 1.0 - SoftGlowLayerAlpha(128, i) / 255.0;
    return (1.0 - clear) * 255.0;
  };
  // Each layer's compositing may round its alpha down by one.
  EXPECT_NEAR(s.At(100, 100).GetA(), stacked(1), 8.0);  // inside: all ten layers
  EXPECT_NEAR(s.At(56, 100).GetA(), stacked(2), 8.0);   // between layers 1 and 2
  EXPECT_NEAR(s.At(47, 100).GetA(), stacked(7), 2.0);   // only the faint outer ones
  EXPECT_GT(s.At(59, 100).GetA(), s.At(56, 100).GetA() + 10);
  EXPECT_EQ(s.At(35, 100).GetA(), 0);  // outermost layer: alpha 0
  EXPECT_GE(s.At(100, 100).GetR(), 250);
}

TEST(DrawKit, GradientPositions) {
  auto positionsOf = [](std::vector<Color> colors, std::vector<float> positions) {
    std::unique_ptr<Gdiplus::LinearGradientBrush> brush(
        MakeLinearGradient(RectF(0, 0, 100, 100), 90, colors, positions));
    const INT n = brush->GetInterpolationColorCount();
    std::vector<Color> c(static_cast<size_t>(n));
    std::vector<float> p(static_cast<size_t>(n));
    if (n > 0) brush->GetInterpolationColors(c.data(), p.data(), n);
    return p;
  };
  const Color a(0xFFFF0000), b(0xFF00FF00), c(0xFF0000FF);
  EXPECT_EQ(positionsOf({a, b}, {}), (std::vector<float>{0, 1}));
  EXPECT_EQ(positionsOf({a, b, c}, {0, 0.35f, 1}), (std::vector<float>{0, 0.35f, 1}));
  EXPECT_EQ(positionsOf({a, b, c}, {0, 1}), (std::vector<float>{0, 0.5f, 1}));
  EXPECT_EQ(GradientPositions(1, {}), (std::vector<float>{0}));
}

TEST(DrawKit, GradientAnglesFollowCss) {
  auto fill = [](float angle) {
    auto s = std::make_unique<Surface>(100, 100);
    std::unique_ptr<Gdiplus::LinearGradientBrush> brush(
        MakeLinearGradient(RectF(0, 0, 100, 100), angle, {Color(0xFFFF0000), Color(0xFF0000FF)}));
    s->g.FillRectangle(brush.get(), RectF(0, 0, 100, 100));
    return s;
  };
  auto down = fill(180);
  EXPECT_TRUE(ColorNear(down->At(50, 0), 0xFFFF0000, 6));
  EXPECT_TRUE(ColorNear(down->At(50, 99), 0xFF0000FF, 6));
  EXPECT_TRUE(ColorNear(down->At(0, 50), 0xFF800080, 6));
  auto right = fill(90);
  EXPECT_TRUE(ColorNear(right->At(0, 50), 0xFFFF0000, 6));
  EXPECT_TRUE(ColorNear(right->At(99, 50), 0xFF0000FF, 6));
  auto diagonal = fill(135);
  EXPECT_TRUE(ColorNear(diagonal->At(0, 0), 0xFFFF0000, 6));
  EXPECT_TRUE(ColorNear(diagonal->At(99, 99), 0xFF0000FF, 6));
  EXPECT_TRUE(ColorNear(diagonal->At(99, 0), 0xFF800080, 8));
}

TEST(DrawKit, RoundedRectCapsAnOverLargeRadius) {
  Gdiplus::GraphicsPath circle;
  AddRoundedRect(circle, RectF(0, 0, 22, 22), 13);
  RectF bounds;
  circle.GetBounds(&bounds);
  EXPECT_NEAR(bounds.Width, 22, 0.01);
  EXPECT_NEAR(bounds.Height, 22, 0.01);
  // The same shapes ten times larger, so that hit tests that round to whole
  // units still tell them apart: (25, 25) lies 120.2 from the centre of the
  // 220-unit circle (outside it) but inside the corner arc of radius 70.
  Gdiplus::GraphicsPath bigCircle;
  AddRoundedRect(bigCircle, RectF(0, 0, 220, 220), 130);
  Gdiplus::GraphicsPath rounded;
  AddRoundedRect(rounded, RectF(0, 0, 220, 220), 70);
  EXPECT_FALSE(bigCircle.IsVisible(25.0f, 25.0f));
  EXPECT_TRUE(rounded.IsVisible(25.0f, 25.0f));
  EXPECT_TRUE(bigCircle.IsVisible(110.0f, 2.0f));
  // A wide rectangle with a large radius becomes a capsule: its ends are half
  // circles of the rectangle's height.
  Gdiplus::GraphicsPath capsule;
  AddRoundedRect(capsule, RectF(0, 0, 100, 20), 40);
  EXPECT_TRUE(capsule.IsVisible(50.0f, 0.5f));
  EXPECT_FALSE(capsule.IsVisible(2.0f, 2.0f));
  EXPECT_TRUE(capsule.IsVisible(0.5f, 10.0f));
}

TEST(DrawKit, SpacedTextWidths) {
  if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
  Surface s(10, 10);
  auto width = [&](const std::wstring& text, float spacing) {
    return MeasureTextWidth(s.g, text, displayFamily, Gdiplus::FontStyleBold, 36, spacing);
  };
  const float a = width(L"A", 0), b = width(L"B", 0);
  EXPECT_GT(a, 10.0f);
  EXPECT_NEAR(width(L"AB", 2), a + 2 + b, 0.01);
  EXPECT_NEAR(width(L"AB", -1.44f), a - 1.44f + b, 0.01);
  EXPECT_EQ(width(L"", 2), 0.0f);
  EXPECT_EQ(width(L"", 0), 0.0f);
  // The trailing space counts, so text placed after it starts a space later.
  const float withSpace =
      MeasureTextWidth(s.g, L"Your browser. ", displayMediumFamily, Gdiplus::FontStyleRegular, 16, 0);
  const float withoutSpace =
      MeasureTextWidth(s.g, L"Your browser.", displayMediumFamily, Gdiplus::FontStyleRegular, 16, 0);
  EXPECT_GT(withSpace - withoutSpace, 2.0f);
  // Filling returns the same advance as measuring.
  Gdiplus::SolidBrush white(colorWhite);
  EXPECT_NEAR(
      FillText(s.g, L"Lockra", displayFamily, Gdiplus::FontStyleBold, 36, PointF(0, 0), white, -1.44f),
      width(L"Lockra", -1.44f), 0.01);
}

TEST(DrawKit, GradientTextSpansItsInkedExtent) {
  if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
  Surface s(400, 120, 0x00000000);
  const float w = FillGradientText(s.g, L"HIH", bodyFamily, Gdiplus::FontStyleBold, 80, PointF(20, 10), 0);
  EXPECT_GT(w, 100.0f);
  // The first and last fully inked columns carry the two ends of the gradient.
  int first = -1, last = -1;
  for (int x = 0; x < 400; ++x) {
    if (s.At(x, 60).GetA() == 255) {
      if (first < 0) first = x;
      last = x;
    }
  }
  ASSERT_GE(first, 0);
  EXPECT_TRUE(ColorNear(s.At(first, 60), 0xFFB49CFF, 14));
  EXPECT_TRUE(ColorNear(s.At(last, 60), 0xFFFF7AC3, 14));
}

// A text box without wrap is one line trimmed in its middle (a path keeps
// its drive and its last folder); with wrap, lines break at words and the
// last one ends after a whole word. Wine's GDI+ takes the middle trimming
// but draws no ellipsis (the line is cut at the box's edge), so the drawn
// ellipsis itself cannot be checked here: the flags and the box can.
TEST(DrawKit, TextBoxFormatFlagsAndTrimming) {
  using Gdiplus::StringAlignment;
  const StringAlignment near_ = Gdiplus::StringAlignmentNear, centre = Gdiplus::StringAlignmentCenter,
                        far_ = Gdiplus::StringAlignmentFar;
  const struct {
    bool wrap;
    StringAlignment alignment, lineAlignment;
    INT flags;
    Gdiplus::StringTrimming trimming;
  } cases[] = {
      {false, near_, centre, Gdiplus::StringFormatFlagsNoWrap, Gdiplus::StringTrimmingEllipsisPath},
      {false, centre, centre, Gdiplus::StringFormatFlagsNoWrap, Gdiplus::StringTrimmingEllipsisPath},
      {true, near_, near_, 0, Gdiplus::StringTrimmingEllipsisWord},
      {true, far_, far_, 0, Gdiplus::StringTrimmingEllipsisWord},
  };
  for (const auto& c : cases) {
    Gdiplus::StringFormat format(0, LANG_NEUTRAL);
    SetTextBoxFormat(format, c.alignment, c.lineAlignment, c.wrap);
    EXPECT_EQ(format.GetFormatFlags(), c.flags) << c.wrap;
    EXPECT_EQ(format.GetTrimming(), c.trimming) << c.wrap;
    EXPECT_EQ(format.GetAlignment(), c.alignment) << c.wrap;
    EXPECT_EQ(format.GetLineAlignment(), c.lineAlignment) << c.wrap;
  }
}

TEST(DrawKit, TextBoxKeepsItsTextInsideTheBox) {
  if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
  // The inked extent of one text box drawn on a clear surface.
  auto ink = [](const std::wstring& text, const RectF& box, bool wrap) {
    Surface s(400, 200, 0x00000000);
    DrawTextBox(s.g, text, monoFamily, 12, Gdiplus::FontStyleRegular, colorWhite, box,
                Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter, wrap);
    s.g.Flush(Gdiplus::FlushIntentionSync);
    RECT r = {400, 200, -1, -1};
    for (int y = 0; y < 200; ++y) {
      for (int x = 0; x < 400; ++x) {
        if (PixelOf(&s.bitmap, x, y).GetA() < 40) continue;
        r.left = std::min<LONG>(r.left, x), r.right = std::max<LONG>(r.right, x);
        r.top = std::min<LONG>(r.top, y), r.bottom = std::max<LONG>(r.bottom, y);
      }
    }
    return r;
  };
  const std::wstring path = L"C:\\users\\test\\AppData\\Local\\Programs\\Norvale Lockra\\une\\longue\\suite";
  const RECT line = ink(path, RectF(20, 80, 200, 40), false);
  EXPECT_GE(line.left, 20);
  EXPECT_LT(line.right, 220);
  EXPECT_GT(line.right, 200);             // the text fills the box's width...
  EXPECT_LT(line.bottom - line.top, 16);  // ...on a single line
  const RECT lines = ink(path, RectF(20, 20, 200, 160), true);
  EXPECT_GE(lines.left, 20);
  EXPECT_LT(lines.right, 220);
  EXPECT_GT(lines.bottom - lines.top, 20);  // wrapped onto more lines
}

// --- icons ---------------------------------------------------------------

void ExpectPoint(PointF p, float x, float y) {
  EXPECT_FLOAT_EQ(p.X, x);
  EXPECT_FLOAT_EQ(p.Y, y);
}

TEST(Icons, CheckAndCloseMapToTheirLayoutPoints) {
  const float y = 100;
  const Icon check = MapIcon(iconCheck, 344.5f, y + 15.5f, 13);
  ASSERT_EQ(check.size(), 1u);
  ASSERT_EQ(check[0].size(), 3u);
  ExpectPoint(check[0][0], 347.34375f, y + 22.40625f);
  ExpectPoint(check[0][1], 349.78125f, y + 24.84375f);
  ExpectPoint(check[0][2], 354.65625f, y + 19.15625f);
  EXPECT_FLOAT_EQ(IconPenWidth(13, 2.4f), 1.95f);

  const Icon close = MapIcon(iconClose, 751, 15, 14);
  ASSERT_EQ(close.size(), 2u);
  ExpectPoint(close[0][0], 754.5f, 18.5f);
  ExpectPoint(close[0][1], 761.5f, 25.5f);
  ExpectPoint(close[1][0], 761.5f, 18.5f);
  ExpectPoint(close[1][1], 754.5f, 25.5f);
  EXPECT_FLOAT_EQ(IconPenWidth(14, 1.8f), 1.575f);
  EXPECT_EQ(iconArrow.size(), 2u);
  EXPECT_EQ(iconMinimize.size(), 1u);
}

TEST(Icons, DrawnWithRoundCapsAtTheMappedPoints) {
  Surface s(40, 40);
  // The minimise bar at size 32: from (7, 16) to (25, 16), 4 units thick;
  // the round caps reach 2 units beyond the ends.
  DrawIcon(s.g, iconMinimize, 0, 0, 32, colorWhite, 2);
  EXPECT_TRUE(ColorNear(s.At(16, 15), 0xFFFFFFFF, 2));
  EXPECT_TRUE(ColorNear(s.At(5, 16), 0xFFFFFFFF, 60));
  EXPECT_TRUE(ColorNear(s.At(3, 16), 0xFF000000, 2));
  EXPECT_TRUE(ColorNear(s.At(16, 20), 0xFF000000, 2));
}

// --- widgets -------------------------------------------------------------

class Widgets : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallerState.hitRegions.clear();
    InstallerState.hoverId = 0;
    InstallerState.pressedId = 0;
  }
  void TearDown() override { SetUp(); }
};

TEST_F(Widgets, FirstRegisteredRegionWins) {
  AddHitRegion(5, RectF(0, 0, 100, 100));
  AddHitRegion(6, RectF(50, 50, 100, 100));
  AddHitRegion(5, RectF(300, 0, 10, 10));  // duplicates are kept
  EXPECT_EQ(InstallerState.hitRegions.size(), 3u);
  EXPECT_EQ(HitRegionAt(75, 75), 5);
  EXPECT_EQ(HitRegionAt(120, 120), 6);
  EXPECT_EQ(HitRegionAt(305, 5), 5);
  EXPECT_EQ(HitRegionAt(200, 200), 0);
  EXPECT_EQ(HitRegionAt(100, 10), 0);  // right edge is outside
}

TEST_F(Widgets, ButtonWidthsAndHitRegions) {
  if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
  Surface s(780, 470);
  const float lw = MeasureTextWidth(s.g, L"Installer", bodyFamily, Gdiplus::FontStyleBold, 15, 0);
  ASSERT_GT(lw, 20.0f);
  const float primary = DrawButton(s.g, 3, 340, L"Installer", Primary, false);
  EXPECT_NEAR(primary, 56 + lw, 0.01);
  ASSERT_EQ(InstallerState.hitRegions.size(), 1u);
  const HitRegion r = InstallerState.hitRegions[0];
  EXPECT_EQ(r.id, 3);
  EXPECT_FLOAT_EQ(r.rect.X, 340);
  EXPECT_FLOAT_EQ(r.rect.Y, 384);
  EXPECT_FLOAT_EQ(r.rect.Width, primary);
  EXPECT_FLOAT_EQ(r.rect.Height, 50);
  EXPECT_NEAR(DrawButton(s.g, 4, 340, L"Installer", Primary, true), primary + 26, 0.01);
  EXPECT_NEAR(DrawButton(s.g, 5, 340, L"Installer", Ghost, false), primary - 12, 0.01);
  EXPECT_NEAR(DrawButton(s.g, 6, 340, L"Installer", Danger, false), primary, 0.01);
  EXPECT_EQ(InstallerState.hitRegions.size(), 4u);
}

TEST_F(Widgets, ButtonArrowFollowsTheLabelInItsColour) {
  if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
  for (ButtonKind kind : {Primary, Ghost}) {
    Surface s(780, 470);
    const float p = kind == Ghost ? 22 : 28;
    const float lw = MeasureTextWidth(s.g, L"Lancer", bodyFamily, Gdiplus::FontStyleBold, 15, 0);
    DrawButton(s.g, 3, 340, L"Lancer", kind, true);
    const float arrowX = 340 + p + lw + 10;
    // The shaft runs along y = 409 from arrowX + 3 to arrowX + 13.
    const uint32_t labelColor = kind == Ghost ? 0xFFE5E7EB : 0xFFFFFFFF;
    EXPECT_TRUE(ColorNear(s.At(static_cast<int>(arrowX + 7), 408), labelColor, 3)) << kind;
    // Between the label and the arrow there is only the button's body.
    EXPECT_LT(s.At(static_cast<int>(arrowX - 4), 409).GetG(), 200) << kind;
  }
}

TEST_F(Widgets, ButtonHoverAndPressVeils) {
  if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
  auto sample = [](ButtonKind kind, int hover, int pressed) {
    InstallerState.hoverId = hover;
    InstallerState.pressedId = pressed;
    Surface s(780, 470);
    DrawButton(s.g, 3, 340, L"Installer", kind, false);
    InstallerState.hitRegions.clear();
    return s.At(352, 420).GetValue();  // inside the body, clear of label and highlight
  };
  const uint32_t idle = sample(Primary, 0, 0);
  EXPECT_TRUE(ColorNear(Color(sample(Primary, 3, 0)), Over(idle, 0x1EFFFFFF), 2));
  EXPECT_TRUE(ColorNear(Color(sample(Primary, 3, 3)), Over(idle, 0x12FFFFFF), 2));
  // Pressed, then the pointer left: the idle look.
  EXPECT_EQ(sample(Primary, 0, 3), idle);
  EXPECT_TRUE(ColorNear(Color(sample(Ghost, 0, 0)), Over(0xFF000000, 0x0DFFFFFF), 1));
  EXPECT_TRUE(ColorNear(Color(sample(Ghost, 3, 0)), Over(0xFF000000, 0x16FFFFFF), 1));
  // The body is the violet-to-pink gradient: violet towards the top-left.
  const Color body(idle);
  EXPECT_GT(body.GetB(), body.GetG());
}

TEST_F(Widgets, CheckRowBoxAndOutline) {
  auto draw = [](bool checked, int hover) {
    InstallerState.hoverId = hover;
    auto s = std::make_unique<Surface>(780, 470);
    DrawCheckRow(s->g, 4, 200, L"Créer un raccourci sur le Bureau", checked);
    return s;
  };
  auto checkedIdle = draw(true, 0);
  auto checkedHover = draw(true, 4);
  for (int x = 340; x < 362; x += 3) {
    EXPECT_EQ(checkedIdle->At(x, 222).GetValue(), checkedHover->At(x, 222).GetValue()) << x;
  }
  // The check mark is white over the gradient box.
  EXPECT_TRUE(ColorNear(checkedIdle->At(349, 224), 0xFFFFFFFF, 40));
  // Unchecked: a 1.5-unit outline inside the box, brighter when hovered.
  EXPECT_TRUE(ColorNear(draw(false, 0)->At(340, 222), Over(0xFF000000, 0x40FFFFFF), 2));
  EXPECT_TRUE(ColorNear(draw(false, 4)->At(340, 222), Over(0xFF000000, 0x73FFFFFF), 2));
  EXPECT_TRUE(ColorNear(draw(false, 4)->At(351, 222), 0xFF000000, 0));
  ASSERT_EQ(InstallerState.hitRegions.size(), 5u);
  EXPECT_FLOAT_EQ(InstallerState.hitRegions[0].rect.Width, 400);
  EXPECT_FLOAT_EQ(InstallerState.hitRegions[0].rect.Height, 44);
}

TEST_F(Widgets, CaptionButtons) {
  auto draw = [](bool isClose, int hover) {
    InstallerState.hoverId = hover;
    auto s = std::make_unique<Surface>(780, 470);
    DrawCaptionButton(s->g, isClose ? 1 : 2, isClose ? 736 : 692, isClose);
    return s;
  };
  auto closeHover = draw(true, 1);
  EXPECT_TRUE(ColorNear(closeHover->At(738, 2), 0xFFE81123, 1));
  EXPECT_TRUE(ColorNear(closeHover->At(756, 20), 0xFFFFFFFF, 40));
  auto closeIdle = draw(true, 0);
  EXPECT_TRUE(ColorNear(closeIdle->At(738, 2), 0xFF000000, 0));
  EXPECT_TRUE(ColorNear(closeIdle->At(756, 20), 0xFFA7AFC2, 30));
  auto minimizeHover = draw(false, 2);
  EXPECT_TRUE(ColorNear(minimizeHover->At(694, 2), Over(0xFF000000, 0x14FFFFFF), 1));
  // The bar at y = 15 + 8 * 14 / 16 = 22, muted even when hovered.
  EXPECT_TRUE(ColorNear(minimizeHover->At(714, 21), 0xFFA7AFC2, 30));
  ASSERT_EQ(InstallerState.hitRegions.size(), 3u);
  EXPECT_FLOAT_EQ(InstallerState.hitRegions[0].rect.X, 736);
  EXPECT_FLOAT_EQ(InstallerState.hitRegions[0].rect.Width, 44);
}

TEST_F(Widgets, HeadingReturnsContentTop) {
  if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
  Surface s(780, 470);
  EXPECT_EQ(DrawHeading(s.g, L"", L"Norvale Lockra", L"", colorWhite), 129.0f);
  EXPECT_EQ(DrawHeading(s.g, L"Installer ", L"", L"Sous-titre", colorWhite), 129.0f);
  EXPECT_TRUE(InstallerState.hitRegions.empty());
  // With no plain part the accented part starts at x = 338: nothing left of it.
  Surface t(780, 470);
  DrawHeading(t.g, L"", L"Lockra", L"", colorWhite);
  int inked = 0;
  for (int y = 60; y < 110; ++y) {
    EXPECT_TRUE(ColorNear(t.At(334, y), 0xFF000000, 0)) << y;
    for (int x = 338; x < 360; ++x) inked += t.At(x, y).GetR() > 100 ? 1 : 0;
  }
  EXPECT_GT(inked, 50);
}

// --- backdrop ------------------------------------------------------------

class Backdrop : public ::testing::Test {
 protected:
  void TearDown() override {
    InstallerState.uiScale = 1.0f;
    InstallerState.version.clear();
  }
};

TEST_F(Backdrop, BadgeText) {
  InstallerState.version.clear();
  EXPECT_EQ(BadgeText(), L"B\u00CATA");
  InstallerState.version = L"1.4.2";
  EXPECT_EQ(BadgeText(), L"B\u00CATA \u00B7 v1.4.2");
}

// Samples the specified colours at scale 1 (780 x 470) and 2 (1560 x 940).
TEST_F(Backdrop, RendersThePanelScreenAreaAndBorder) {
  for (int scale : {1, 2}) {
    InstallerState.uiScale = static_cast<float>(scale);
    RenderBackdrop(780 * scale, 470 * scale);
    ASSERT_NE(backdropBitmap, nullptr);
    EXPECT_EQ(backdropBitmap->GetWidth(), 780u * scale);
    EXPECT_EQ(backdropBitmap->GetHeight(), 470u * scale);
    EXPECT_EQ(backdropBitmap->GetPixelFormat(), static_cast<Gdiplus::PixelFormat>(PixelFormat32bppPARGB));
    auto at = [&](float x, float y) {
      return PixelOf(backdropBitmap, static_cast<int>(x * scale), static_cast<int>(y * scale));
    };
    // Screen area: 0xFF0F1428 at the top to 0xFF0B0F1A at the bottom.
    EXPECT_TRUE(ColorNear(at(540, 3), 0xFF0F1428, 2)) << scale;
    EXPECT_TRUE(ColorNear(at(540, 466), 0xFF0B0F1A, 2)) << scale;
    EXPECT_TRUE(ColorNear(at(540, 235), 0xFF0D1221, 2)) << scale;
    // The border covers the outermost unit, over the screen area's gradient.
    EXPECT_TRUE(ColorNear(at(540, 0), Over(0xFF0F1428, 0x40C4B5FD), 3)) << scale;
    EXPECT_TRUE(ColorNear(at(779.5f, 235), Over(0xFF0D1221, 0x40C4B5FD), 3)) << scale;
    EXPECT_TRUE(ColorNear(at(540, 469.5f), Over(0xFF0B0F1A, 0x40C4B5FD), 3)) << scale;
    EXPECT_TRUE(ColorNear(at(0, 300),
                          Over(PixelOf(backdropBitmap, 2 * scale, 300 * scale).GetValue(), 0x40C4B5FD), 6))
        << scale;
    EXPECT_TRUE(ColorNear(at(540, 1.2f), 0xFF0F1428, 2)) << scale;
    // Everything is opaque.
    EXPECT_EQ(at(150, 300).GetA(), 255);
  }
}

TEST_F(Backdrop, WithoutImagesThePanelIsItsBaseAndGlows) {
  Gdiplus::Bitmap* brand = brandImage;
  Gdiplus::Bitmap* logo = logoImage;
  brandImage = nullptr;
  logoImage = nullptr;
  InstallerState.uiScale = 1.0f;
  RenderBackdrop(780, 470);
  brandImage = brand;
  logoImage = logo;
  EXPECT_TRUE(ColorNear(PixelOf(backdropBitmap, 10, 380), 0xFF080B16, 1));
  EXPECT_TRUE(ColorNear(PixelOf(backdropBitmap, 290, 20), 0xFF080B16, 1));
  // Around the glows (above the name, inside the border) the panel is the
  // base with the violet glow, then the pink one, over it. A near alpha for
  // the pink glow (36 instead of 38) changes some pixels by 2.
  auto largestDifference = [](uint32_t pink) {
    Surface expected(300, 230, 0xFF080B16);
    FillRadialGlow(expected.g, 80, 172, 78, Color(0x698B5CF6));
    FillRadialGlow(expected.g, 84, 176, 110, Color(pink));
    expected.g.Flush(Gdiplus::FlushIntentionSync);
    int largest = 0;
    for (int y = 1; y < 230; ++y) {
      for (int x = 1; x < 300; ++x) {
        const Color a = PixelOf(backdropBitmap, x, y), e = PixelOf(&expected.bitmap, x, y);
        for (int d : {a.GetR() - e.GetR(), a.GetG() - e.GetG(), a.GetB() - e.GetB()})
          largest = std::max(largest, std::abs(d));
      }
    }
    return largest;
  };
  EXPECT_LE(largestDifference(0x26EC4899), 1);
  EXPECT_GT(largestDifference(0x24EC4899), 1);  // the tolerance tells the two apart
  // Half-way out the first glow is fainter than at its centre.
  EXPECT_LT(PixelOf(backdropBitmap, 80, 211).GetB(), PixelOf(backdropBitmap, 80, 172).GetB());
}

TEST_F(Backdrop, ProductNameAndBadgeAreInked) {
  if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
  InstallerState.uiScale = 1.0f;
  InstallerState.version = L"0.1.69b";
  RenderBackdrop(780, 470);
  int white = 0;
  for (int y = 234; y < 290; ++y) {
    for (int x = 26; x < 290; ++x) {
      const Color c = PixelOf(backdropBitmap, x, y);
      white += c.GetR() > 230 && c.GetG() > 230 && c.GetB() > 230 ? 1 : 0;
    }
  }
  EXPECT_GT(white, 1000);  // the white upper part of the letters
  // The whole name stays on the panel: ink reaches towards its right side
  // but leaves the last units before the screen area (x = 300) clear.
  int nearEdge = 0, rightPart = 0;
  for (int y = 234; y < 290; ++y) {
    for (int x = 230; x < 300; ++x) {
      const Color c = PixelOf(backdropBitmap, x, y);
      const bool ink = c.GetR() > 180 && c.GetG() > 170 && c.GetB() > 200;
      (x >= 290 ? nearEdge : rightPart) += ink ? 1 : 0;
    }
  }
  EXPECT_EQ(nearEdge, 0);
  EXPECT_GT(rightPart, 100);
  // The badge: its rim at the left edge of (28, 402, bw, 24), pink over the panel.
  const Color rim = PixelOf(backdropBitmap, 28, 414);
  EXPECT_GT(rim.GetR(), rim.GetG());
}

TEST_F(Backdrop, EmptyClientAreaLeavesNoBitmap) {
  RenderBackdrop(780, 470);
  ASSERT_NE(backdropBitmap, nullptr);
  RenderBackdrop(0, 0);  // a minimised window
  EXPECT_EQ(backdropBitmap, nullptr);
}

TEST_F(Backdrop, SmallerBitmapIsCutNotShrunk) {
  InstallerState.uiScale = 1.0f;
  RenderBackdrop(400, 300);
  EXPECT_EQ(backdropBitmap->GetWidth(), 400u);
  // The screen area still starts at x = 300 and keeps its colours.
  EXPECT_TRUE(ColorNear(PixelOf(backdropBitmap, 350, 3), 0xFF0F1428, 2));
  EXPECT_TRUE(ColorNear(PixelOf(backdropBitmap, 399, 150), 0xFF0D1221, 2));
}

}  // namespace
