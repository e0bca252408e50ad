#include "window/screens.h"

#include <mutex>

#include "app/texts.h"
#include "toolkit/assets.h"
#include "toolkit/backdrop.h"
#include "toolkit/draw.h"
#include "toolkit/icons.h"
#include "toolkit/widgets.h"
#include "window/flow.h"
#include "window/input.h"

using Gdiplus::PointF;
using Gdiplus::RectF;

namespace {

constexpr float kContentX = 340.0f;
constexpr float kContentWidth = 400.0f;
constexpr float kButtonGap = 12.0f;
constexpr float kTagSpacing = 1.32f;

// The Welcome screen's folder pictogram, one closed path on a 16-unit grid.
void DrawFolderIcon(Gdiplus::Graphics& g, float x, float y) {
  constexpr float k = 15.0f / 16.0f;
  auto p = [&](float px, float py) { return PointF(x + px * k, y + py * k); };
  auto box = [&](float bx, float by) { return RectF(x + bx * k, y + by * k, 3 * k, 3 * k); };
  Gdiplus::GraphicsPath path;
  path.AddLine(p(2, 11.5f), p(2, 4.5f));
  path.AddArc(box(2, 3), 180, 90);
  path.AddLine(p(6.5f, 3), p(8, 4.5f));
  path.AddLine(p(8, 4.5f), p(12.5f, 4.5f));
  path.AddArc(box(11, 4.5f), 270, 90);
  path.AddLine(p(14, 6), p(14, 11.5f));
  path.AddArc(box(11, 10), 0, 90);
  path.AddLine(p(12.5f, 13), p(3.5f, 13));
  path.AddArc(box(2, 10), 90, 90);
  path.CloseFigure();
  Gdiplus::Pen pen(Ink(MakeColor(0x67E8F9, 255)), 1.6875f);
  pen.SetLineJoin(Gdiplus::LineJoinRound);
  g.DrawPath(&pen, &path);
}

// The folder field: icon, the path (trimmed in its middle) and "Modifier".
void DrawFolderField(Gdiplus::Graphics& g, float y, const FrameContext& frame) {
  const RectF field(kContentX, y, kContentWidth, 40);
  {
    Gdiplus::GraphicsPath shape;
    AddRoundedRect(shape, field, 11);
    Gdiplus::SolidBrush fill(contrastTheme.on ? contrastTheme.window : MakeColor(0x05070F, 204));
    Gdiplus::Pen outline(Ink(MakeColor(0xFFFFFF, 23)), 1);
    g.FillPath(&fill, &shape);
    g.DrawPath(&outline, &shape);
  }
  DrawFolderIcon(g, field.X + 14, field.Y + 12.5f);

  const std::wstring label = kChangeFolderLabel;
  const float w = MeasureTextWidth(g, label, bodyFamily, Gdiplus::FontStyleBold, 12, 0) + 24;
  const RectF button(field.X + field.Width - 6 - w, field.Y + 5, w, 30);
  AddHitRegion(kChangeFolderButton, InflateRect(button, 5));
  const bool hovered = frame.hoverId == kChangeFolderButton;
  {
    Gdiplus::GraphicsPath shape;
    AddRoundedRect(shape, button, 8);
    Gdiplus::SolidBrush fill(contrastTheme.on ? contrastTheme.buttonFace
                                              : MakeColor(0x06B6D4, hovered ? 56 : 36));
    Gdiplus::Pen outline(
        contrastTheme.on ? contrastTheme.buttonText : MakeColor(0x67E8F9, hovered ? 140 : 89),
        contrastTheme.on && hovered ? 2.0f : 1.0f);
    g.FillPath(&fill, &shape);
    g.DrawPath(&outline, &shape);
  }
  const Gdiplus::Color labelColor = contrastTheme.on ? contrastTheme.buttonText
                                    : hovered        ? MakeColor(0xECFEFF, 255)
                                                     : MakeColor(0xA5F3FC, 255);
  DrawTextBox(g, label, bodyFamily, 12, Gdiplus::FontStyleBold, labelColor, button,
              Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter, false);
  if (frame.shortcuts) {
    UnderlineFirstLetter(g, label, bodyFamily, 12, Gdiplus::FontStyleBold, labelColor, button,
                         Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter);
  }
  DrawFocusRingFor(g, kChangeFolderButton, InflateRect(button, 3), 11);

  const RectF pathBox(field.X + 41, field.Y, button.X - field.X - 41 - 8, field.Height);
  DrawTextBox(g, frame.installDir, monoFamily, 12, Gdiplus::FontStyleRegular, Ink(colorText), pathBox,
              Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter, false);
  // Read before its button, as it is seen: the folder, then what changes it.
  AddAccessText(frame.installDir, pathBox);
  AddAccessItem(kChangeFolderButton, ButtonRole, label, button, false, false, ShortcutOf(label));
}

// The pink warning sign of the uninstall card: ring, stem and dot.
void DrawWarningSign(Gdiplus::Graphics& g, const RectF& card) {
  const Gdiplus::Color pink = Ink(MakeColor(0xF9A8D4, 255));
  Gdiplus::Pen ring(pink, 1.8f);
  g.DrawEllipse(&ring, RectF(card.X + 17.5f, card.Y + 16.5f, 15, 15));
  // On the 16-unit grid of an 18-unit icon at card.X + 16, grid x 8 is the
  // vertical through the centre of the ring (card.X + 25).
  const Icon stem = {{PointF(8, 5.5f), PointF(8, 9.5f)}};
  DrawIcon(g, stem, card.X + 16, card.Y + 15, 18, pink, 1.8f);
  Gdiplus::SolidBrush dot(pink);
  g.FillEllipse(&dot, RectF(card.X + 24.1f, card.Y + 27.1f, 1.8f, 1.8f));
}

}  // namespace

std::wstring ScreenTag(Mode mode, Screen screen) {
  std::wstring tag = mode == Uninstall ? kTagUninstall : mode == Update ? kTagUpdate : kTagInstall;
  if (screen == Done) tag += kTagDoneSuffix;
  return tag;
}

bool FrameContext::SameContent(const FrameContext& o) const {
  return screen == o.screen && mode == o.mode && bytesDone == o.bytesDone && bytesTotal == o.bytesTotal &&
         status == o.status && error == o.error && uiScale == o.uiScale && hoverId == o.hoverId &&
         pressedId == o.pressedId && createDesktopShortcut == o.createDesktopShortcut &&
         launchAtEnd == o.launchAtEnd && removeUserData == o.removeUserData && installDir == o.installDir &&
         focusRing == o.focusRing && shortcuts == o.shortcuts && highContrast == o.highContrast;
}

FrameContext CaptureFrame() {
  FrameContext frame;
  frame.time = GetTickCount64();
  frame.animationsOn = AnimationsEnabled();
  frame.screen = CurrentScreen();
  frame.mode = InstallerState.mode;
  frame.bytesDone = InstallerState.bytesDone.load();
  frame.bytesTotal = InstallerState.bytesTotal.load();
  {
    std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
    frame.status = InstallerState.statusText;
    frame.error = InstallerState.errorText;
  }
  frame.uiScale = InstallerState.uiScale;
  frame.hoverId = InstallerState.hoverId;
  frame.pressedId = InstallerState.pressedId;
  frame.createDesktopShortcut = InstallerState.createDesktopShortcut;
  frame.launchAtEnd = InstallerState.launchAtEnd;
  frame.removeUserData = InstallerState.removeUserData;
  frame.installDir = InstallerState.installDir;
  const bool cues = KeyboardCuesOn();
  frame.focusRing = InstallerState.keyboardUsed || cues ? InstallerState.focusId : 0;
  frame.shortcuts = InstallerState.altHeld || cues;
  frame.highContrast = InstallerState.highContrast;
  return frame;
}

bool KeyboardCuesOn() {
  BOOL on = FALSE;
  return SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &on, 0) && on;
}

Gdiplus::RectF AnimatedArea() { return RectF(318, 282, 458, 74); }

void PaintScreens(Gdiplus::Graphics& g) { PaintFrame(g, CaptureFrame(), FramePart::Whole, false); }

void PaintFrame(Gdiplus::Graphics& g, const FrameContext& frame, FramePart part, bool backdropInPlace) {
  SetSurfaceQuality(g);
  if (part == FramePart::Animated) {
    ApplyUiScale(g);
    if (frame.screen == Progress) PaintProgress(g, frame, part);
    return;
  }

  // Every frame registers its widgets anew: what is not drawn cannot be hit.
  InstallerState.hitRegions.clear();
  InstallerState.accessItems.clear();
  widgetLook = WidgetLook{frame.focusRing, frame.shortcuts};
  contrastTheme.on = frame.highContrast;
  if (contrastTheme.on) {
    // No artwork behind anything: the window colour, and a line where the
    // brand panel ends.
    g.Clear(contrastTheme.window);
    ApplyUiScale(g);
    Gdiplus::Pen edge(contrastTheme.windowText, 1);
    g.DrawLine(&edge, 300.5f, 0.0f, 300.5f, 470.0f);
    Gdiplus::SolidBrush ink(contrastTheme.windowText);
    FillText(g, kProductName, displayFamily, Gdiplus::FontStyleBold, 28, PointF(40, 200), ink, -0.8f);
  } else {
    if (backdropBitmap && !backdropInPlace) {
      g.DrawImage(backdropBitmap, 0, 0, static_cast<INT>(backdropBitmap->GetWidth()),
                  static_cast<INT>(backdropBitmap->GetHeight()));
    }
    ApplyUiScale(g);
  }

  Gdiplus::SolidBrush muted(Ink(colorMuted));
  FillText(g, ScreenTag(frame.mode, frame.screen), monoFamily, Gdiplus::FontStyleRegular, 11, PointF(336, 15),
           muted, kTagSpacing);
  DrawCaptionButton(g, kMinimizeButton, 692, false);
  if (frame.screen != Progress) DrawCaptionButton(g, kCloseButton, 736, true);

  switch (frame.screen) {
    case Welcome:
      if (frame.mode == Uninstall) {
        PaintUninstallWelcome(g, frame);
      } else {
        PaintInstallWelcome(g, frame);
      }
      break;
    case Progress:
      PaintProgress(g, frame, part);
      break;
    case Done:
      PaintDone(g, frame);
      break;
    default:
      PaintError(g, frame);
      break;
  }
}

void PaintInstallWelcome(Gdiplus::Graphics& g, const FrameContext& frame) {
  float y = DrawHeading(g, kInstallHeading, kProductName, kInstallSubtitle, colorWhite) + 18;
  DrawCheckRow(g, kDesktopShortcutRow, y, kDesktopShortcutLabel, frame.createDesktopShortcut);
  DrawCheckRow(g, kLaunchAtEndRow, y + 44, LaunchAtEndLabel(), frame.launchAtEnd);

  y += 100;
  Gdiplus::SolidBrush muted(Ink(colorMuted));
  FillText(g, kFolderLabel, monoFamily, Gdiplus::FontStyleRegular, 11, PointF(kContentX, y), muted,
           kTagSpacing);
  DrawFolderField(g, y + 22, frame);

  const float mainWidth = DrawButton(g, kMainButton, kContentX, kInstallLabel, Primary, false);
  DrawButton(g, kSecondaryButton, kContentX + mainWidth + kButtonGap, kCancelLabel, Ghost, false);
}

void PaintUninstallWelcome(Gdiplus::Graphics& g, const FrameContext& frame) {
  const float y = DrawHeading(g, UninstallHeading(), L"", UninstallSubtitle(), colorWhite) + 22;
  DrawCheckRow(g, kRemoveDataRow, y, kRemoveDataLabel, frame.removeUserData);

  const RectF card(kContentX, y + 58, kContentWidth, 67);
  {
    Gdiplus::GraphicsPath shape;
    AddRoundedRect(shape, card, 12);
    Gdiplus::SolidBrush fill(contrastTheme.on ? contrastTheme.window : MakeColor(0xEC4899, 20));
    Gdiplus::Pen outline(Ink(MakeColor(0xEC4899, 77)), 1);
    g.FillPath(&fill, &shape);
    g.DrawPath(&outline, &shape);
  }
  DrawWarningSign(g, card);
  const wchar_t* text = frame.removeUserData ? kRemoveDataOn : kRemoveDataOff;
  const RectF textBox(card.X + 46, card.Y + 13, card.Width - 62, 44);
  DrawTextBox(g, text, bodyFamily, 13, Gdiplus::FontStyleRegular, Ink(colorText), textBox,
              Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear, true);
  AddAccessText(text, textBox);

  const float mainWidth = DrawButton(g, kMainButton, kContentX, kUninstallLabel, Danger, false);
  DrawButton(g, kSecondaryButton, kContentX + mainWidth + kButtonGap, kCancelLabel, Ghost, false);
}
