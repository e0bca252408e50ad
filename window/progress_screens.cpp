#include <algorithm>

#include "app/helpers.h"
#include "app/texts.h"
#include "toolkit/assets.h"
#include "toolkit/draw.h"
#include "toolkit/icons.h"
#include "toolkit/widgets.h"
#include "window/input.h"
#include "window/screens.h"

using Gdiplus::PointF;
using Gdiplus::RectF;

namespace {

constexpr float kContentX = 340.0f;
constexpr float kContentRight = 740.0f;
constexpr float kTrackWidth = 400.0f;
constexpr float kBarY = 309.0f;
constexpr float kBarHeight = 12.0f;
constexpr float kMinimumFill = 12.0f;
constexpr uint64_t kShimmerPeriodMs = 2400;
constexpr uint64_t kCursorBlinkMs = 450;
constexpr uint64_t kMebibyte = 0x100000;

void FillRoundedRect(Gdiplus::Graphics& g, const RectF& rect, float radius, const Gdiplus::Brush& brush) {
  Gdiplus::GraphicsPath shape;
  AddRoundedRect(shape, rect, radius);
  g.FillPath(&brush, &shape);
}

// The bar's track and the soft glow under its filled part: still while the
// counters do not change.
void DrawBarBase(Gdiplus::Graphics& g, float fill) {
  const RectF trackBox(kContentX, kBarY, kTrackWidth, kBarHeight);
  Gdiplus::SolidBrush track(contrastTheme.on ? contrastTheme.window : MakeColor(0xFFFFFF, 18));
  FillRoundedRect(g, trackBox, 6, track);
  if (contrastTheme.on) {
    Gdiplus::GraphicsPath outline;
    AddRoundedRect(outline, InflateRect(trackBox, 1.5f), 7.5f);
    Gdiplus::Pen pen(contrastTheme.windowText, 1);
    g.DrawPath(&pen, &outline);
  }
  FillSoftGlow(g, RectF(kContentX, kBarY, fill, kBarHeight), 6, MakeColor(0x8B5CF6, 204), 14);
}

// The flowing gradient of the filled part and its glowing head.
void DrawBarFlow(Gdiplus::Graphics& g, float fill, float shimmer) {
  const RectF bar(kContentX, kBarY, fill, kBarHeight);
  if (contrastTheme.on) {
    // One solid fill in the highlight colour: no flow, no head.
    Gdiplus::SolidBrush solid(contrastTheme.highlight);
    FillRoundedRect(g, bar, 6, solid);
    return;
  }
  // Twice as wide as the bar and tiled: moving its start by `shimmer` makes
  // the colours flow; first and last colours match, so the tiles join.
  Gdiplus::LinearGradientBrush* flow =
      MakeLinearGradient(RectF(bar.X - shimmer, bar.Y, fill * 2, bar.Height), 90,
                         {MakeColor(0x7C3AED, 255), MakeColor(0x8B5CF6, 255), MakeColor(0x22D3EE, 255),
                          MakeColor(0xEC4899, 255), MakeColor(0x7C3AED, 255)});
  if (flow) {
    flow->SetWrapMode(Gdiplus::WrapModeTile);
    FillRoundedRect(g, bar, 6, *flow);
    delete flow;
  }

  const float hx = kContentX + fill - 9;
  FillRadialGlow(g, hx + 10, 315, 22, MakeColor(0x22D3EE, 150));
  FillRadialGlow(g, hx + 10, 315, 30, MakeColor(0xEC4899, 70));
  Gdiplus::SolidBrush head(colorWhite);
  g.FillEllipse(&head, RectF(hx, 305, 20, 20));
}

// Whether a text box below the bar lies under the glows of the bar's head,
// which are painted before it and change with every frame.
bool UnderHeadGlow(float left, float right, float fill) {
  const float hx = kContentX + fill - 9;
  return left < hx + 40 && right > hx - 20;
}

}  // namespace

ProgressValues ComputeProgress(uint64_t bytesDone, uint64_t bytesTotal) {
  ProgressValues v;
  v.total = std::max<uint64_t>(bytesTotal, 1);
  v.done = std::min(bytesDone, v.total);
  v.fraction = static_cast<float>(v.done) / static_cast<float>(v.total);
  // Exact integer truncation: a float product can land just below a whole
  // percent (29 of 100 would read 28 %).
  v.percent = static_cast<int>(static_cast<unsigned __int128>(v.done) * 100 / v.total);
  v.fill = std::max(kTrackWidth * v.fraction, kMinimumFill);
  return v;
}

std::wstring SizesLine(const ProgressValues& values, Mode mode) {
  if (mode == Uninstall || values.total <= kMebibyte) return L"";
  return FormatString(kSizesFormat, static_cast<unsigned long long>(values.done >> 20),
                      static_cast<unsigned long long>(values.total >> 20));
}

float ShimmerOffset(uint64_t t, float fill, bool animationsOn) {
  if (!animationsOn) return 0;
  return static_cast<float>(t % kShimmerPeriodMs) / kShimmerPeriodMs * fill * 2;
}

bool CursorShown(uint64_t t, bool animationsOn) { return !animationsOn || (t / kCursorBlinkMs) % 2 == 0; }

void PaintProgress(Gdiplus::Graphics& g, const FrameContext& frame, FramePart part) {
  const Mode mode = frame.mode;
  const ProgressValues v = ComputeProgress(frame.bytesDone, frame.bytesTotal);
  const bool still = part != FramePart::Animated;
  const bool animated = part != FramePart::Still;

  if (still) {
    const wchar_t* title = mode == Uninstall ? kProgressUninstall
                           : mode == Update  ? kProgressUpdate
                                             : kProgressInstall;
    const std::wstring subtitle =
        mode == Uninstall ? ProgressUninstallSubtitle() : std::wstring(kProgressInstallSubtitle);
    DrawHeading(g, title, L"", subtitle, colorWhite);

    const std::wstring percent = FormatString(L"%d %%", v.percent);
    const float pw = MeasureTextWidth(g, percent, displayFamily, Gdiplus::FontStyleBold, 64, -3.2f);
    FillGradientText(g, percent, displayFamily, Gdiplus::FontStyleBold, 64, PointF(kContentRight - pw, 231),
                     -3.2f);
    const RectF statusBox(kContentX, 267, kTrackWidth - pw - 16, 20);
    DrawTextBox(g, frame.status, monoFamily, 13, Gdiplus::FontStyleRegular, Ink(colorBody), statusBox,
                Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear, false);
    DrawBarBase(g, v.fill);
    AddAccessText(frame.status, statusBox);
    AddAccessItem(0, ProgressRole, kProgressName, RectF(kContentX, kBarY, kTrackWidth, kBarHeight), false,
                  false, 0, v.percent);
    AddAccessText(SizesLine(v, mode), RectF(kContentX, 335, 200, 16));
    AddAccessText(kProgressReminder, RectF(kContentX + 200, 335, 200, 16));
  }
  if (animated) DrawBarFlow(g, v.fill, ShimmerOffset(frame.time, v.fill, frame.animationsOn));

  // The two texts below the bar come after the head's glows. Where a glow
  // reaches them they are painted with the animated part, else with the
  // still part: either way in that order, and each exactly once.
  const std::wstring sizes = SizesLine(v, mode);
  if (!sizes.empty()) {
    const bool underGlow = UnderHeadGlow(kContentX, kContentX + 200, v.fill);
    if (part == FramePart::Whole || (underGlow ? animated : still)) {
      DrawTextBox(g, sizes, monoFamily, 12, Gdiplus::FontStyleRegular, Ink(colorMuted),
                  RectF(kContentX, 335, 200, 16), Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear,
                  false);
    }
  }
  const float cw = MeasureTextWidth(g, L"_", monoFamily, Gdiplus::FontStyleRegular, 12, 0);
  const float tw = MeasureTextWidth(g, kProgressReminder, monoFamily, Gdiplus::FontStyleRegular, 12, 0);
  const float left = kContentRight - cw - tw;
  const bool reminderUnderGlow = UnderHeadGlow(left, kContentRight - cw, v.fill);
  if (part == FramePart::Whole || (reminderUnderGlow ? animated : still)) {
    Gdiplus::SolidBrush muted(Ink(colorMuted));
    FillText(g, kProgressReminder, monoFamily, Gdiplus::FontStyleRegular, 12, PointF(left, 336), muted, 0);
  }
  if (animated && CursorShown(frame.time, frame.animationsOn)) {
    Gdiplus::SolidBrush cyan(Ink(MakeColor(0x22D3EE, 255)));
    FillText(g, L"_", monoFamily, Gdiplus::FontStyleRegular, 12, PointF(kContentRight - cw, 336), cyan, 0);
  }
}

void PaintDone(Gdiplus::Graphics& g, const FrameContext& frame) {
  const bool uninstall = frame.mode == Uninstall;
  const RectF badge(kContentX, 62, 64, 64);
  FillRadialGlow(g, 372, 94, 58, MakeColor(0x8B5CF6, 110));
  {
    Gdiplus::GraphicsPath ring;
    ring.AddEllipse(badge);
    if (contrastTheme.on) {
      Gdiplus::SolidBrush plain(contrastTheme.windowText);
      g.FillPath(&plain, &ring);
    } else {
      Gdiplus::LinearGradientBrush* gradient = MakeLinearGradient(
          badge, 135, {MakeColor(0x8B5CF6, 255), MakeColor(0x22D3EE, 255), MakeColor(0xEC4899, 255)});
      if (gradient) {
        g.FillPath(gradient, &ring);
        delete gradient;
      }
    }
    Gdiplus::GraphicsPath inside;
    inside.AddEllipse(InflateRect(badge, -2));
    Gdiplus::SolidBrush dark(contrastTheme.on ? contrastTheme.window : MakeColor(0x0F1428, 255));
    g.FillPath(&dark, &inside);
  }
  DrawIcon(g, iconCheck, badge.X + 18, badge.Y + 18, 28, Ink(colorWhite), 2.4f);

  const std::wstring title = uninstall ? kDoneUninstall : kDoneInstall;
  FillGradientText(g, title, displayFamily, Gdiplus::FontStyleBold, 52, PointF(337, 138), -2.6f);

  const std::wstring lines[2] = {
      std::wstring(kProductName) + (uninstall ? kDoneUninstallLine : kDoneInstallLine),
      uninstall ? kDoneUninstallWish : kDoneInstallWish,
  };
  AddAccessText(title, RectF(337, 138, 400, 60));
  for (int i = 0; i < 2; ++i) {
    const RectF box(338, 210 + 22.5f * i, 400, 22);
    DrawTextBox(g, lines[i], bodyFamily, 15, Gdiplus::FontStyleRegular, Ink(colorBody), box,
                Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear, false);
    AddAccessText(lines[i], box);
  }

  if (uninstall) {
    DrawButton(g, kMainButton, kContentX, kCloseLabel, Primary, false);
  } else {
    const float mainWidth = DrawButton(g, kMainButton, kContentX, LaunchButton(), Primary, true);
    DrawButton(g, kSecondaryButton, kContentX + mainWidth + 12, kCloseLabel, Ghost, false);
  }
}

void PaintError(Gdiplus::Graphics& g, const FrameContext& frame) {
  DrawHeading(g, kErrorHeading, L"", L"", colorAccent);
  const std::wstring message = frame.error.empty() ? kGenericFailureMessage : frame.error;
  const RectF messageBox(338, 112, 400, 252);
  DrawTextBox(g, message, bodyFamily, 14, Gdiplus::FontStyleRegular, Ink(colorBody), messageBox,
              Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear, true);
  AddAccessText(message, messageBox);
  const float mainWidth = DrawButton(g, kMainButton, kContentX, kRetryLabel, Primary, false);
  DrawButton(g, kSecondaryButton, kContentX + mainWidth + 12, kCloseLabel, Ghost, false);
}
