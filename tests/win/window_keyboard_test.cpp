// The keyboard alone: focus order, Space, Enter, Alt letters and the focus
// ring, through the real window procedure.
#include <cstring>

#include "window/accessible.h"
#include "window_test_util.h"

namespace {

const auto* const gdiplusEnvironment = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

class WindowKeyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
    ResetWidgetState();
    InstallerState.keyboardUsed = false;
    InstallerState.altHeld = false;
    window_ = MakeTestWindow(780, 470);
  }
  void TearDown() override {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    SetScreen(Welcome);
    InstallerState.focusId = 0;
    InstallerState.keyboardUsed = false;
  }
  // The frame as the window paints it: a new screen puts the focus on its
  // main button first.
  void Show(Mode mode, Screen screen) {
    InstallerState.mode = mode;
    SetScreen(screen == Progress ? Welcome : Progress);  // coming from another screen
    PrepareFocusForFrame();
    SetScreen(screen);
    PrepareFocusForFrame();
    PaintFrame(mode, screen);
  }
  void Key(WPARAM key) { SendMessageW(window_, WM_KEYDOWN, key, 0); }
  void AltKey(WPARAM key) { SendMessageW(window_, WM_SYSKEYDOWN, key, 1 << 29); }
  HWND window_ = nullptr;
};

// Pixels of one frame, painted as the window paints it.
std::vector<uint32_t> FramePixels() {
  Gdiplus::Bitmap bitmap(780, 470, PixelFormat32bppPARGB);
  {
    Gdiplus::Graphics g(&bitmap);
    PaintScreens(g);
  }
  std::vector<uint32_t> pixels(780 * 470);
  Gdiplus::Rect all(0, 0, 780, 470);
  Gdiplus::BitmapData data;
  if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) != Gdiplus::Ok)
    return {};
  for (int y = 0; y < 470; ++y)
    memcpy(&pixels[y * 780], static_cast<BYTE*>(data.Scan0) + y * data.Stride, 780 * 4);
  bitmap.UnlockBits(&data);
  return pixels;
}

}  // namespace

TEST_F(WindowKeyboard, TabWalksTheWidgetsInReadingOrderAndWraps) {
  struct Case {
    Mode mode;
    Screen screen;
    std::vector<int32_t> afterMain;  // focus after each Tab from the main button
  };
  const Case cases[] = {
      {Install,
       Welcome,
       {kSecondaryButton, kMinimizeButton, kCloseButton, kDesktopShortcutRow, kLaunchAtEndRow,
        kChangeFolderButton, kMainButton}},
      {Uninstall, Welcome, {kSecondaryButton, kMinimizeButton, kCloseButton, kRemoveDataRow, kMainButton}},
      {Uninstall, Done, {kMinimizeButton, kCloseButton, kMainButton}},
      {Install, Error, {kSecondaryButton, kMinimizeButton, kCloseButton, kMainButton}},
  };
  for (const Case& c : cases) {
    Show(c.mode, c.screen);
    ASSERT_EQ(InstallerState.focusId, kMainButton) << c.mode << c.screen;
    std::vector<int32_t> seen;
    for (size_t i = 0; i < c.afterMain.size(); ++i) {
      Key(VK_TAB);
      seen.push_back(InstallerState.focusId);
    }
    EXPECT_EQ(seen, c.afterMain) << c.mode << c.screen;
    // Backwards retraces the same ring.
    std::vector<int32_t> back;
    for (size_t i = 0; i < c.afterMain.size(); ++i) {
      MoveFocus(window_, true);
      back.push_back(InstallerState.focusId);
    }
    std::vector<int32_t> expected(c.afterMain.rbegin() + 1, c.afterMain.rend());
    expected.push_back(kMainButton);
    EXPECT_EQ(back, expected) << c.mode << c.screen;
  }
  // Progress has only the minimise button, and nothing focused at first.
  Show(Install, Progress);
  EXPECT_EQ(InstallerState.focusId, 0);
  Key(VK_TAB);
  EXPECT_EQ(InstallerState.focusId, kMinimizeButton);
}

TEST_F(WindowKeyboard, SpaceTogglesTheFocusedRowAndEnterPressesTheMainButton) {
  Show(Install, Welcome);
  while (InstallerState.focusId != kLaunchAtEndRow) Key(VK_TAB);
  Key(VK_SPACE);
  EXPECT_FALSE(InstallerState.launchAtEnd);
  Key(VK_SPACE);
  EXPECT_TRUE(InstallerState.launchAtEnd);
  EXPECT_TRUE(InstallerState.createDesktopShortcut);
  // Enter on a check row is the main button's: on uninstall Done it closes.
  Show(Uninstall, Done);
  PaintFrame(Uninstall, Done);
  Key(VK_TAB);
  ASSERT_EQ(InstallerState.focusId, kMinimizeButton);
  InstallerState.focusId = kRemoveDataRow;  // a row of another screen: not a button here
  Key(VK_RETURN);
  EXPECT_FALSE(IsWindow(window_));
}

TEST_F(WindowKeyboard, EnterAndSpacePressTheFocusedButton) {
  for (WPARAM key : {static_cast<WPARAM>(VK_RETURN), static_cast<WPARAM>(VK_SPACE)}) {
    if (!IsWindow(window_)) window_ = MakeTestWindow(780, 470);
    Show(Install, Error);
    Key(VK_TAB);
    ASSERT_EQ(InstallerState.focusId, kSecondaryButton);  // "Fermer"
    Key(key);
    EXPECT_FALSE(IsWindow(window_)) << key;
    EXPECT_EQ(CurrentScreen(), Error) << key;  // not "Réessayer"
  }
}

TEST_F(WindowKeyboard, AltLettersActOnTheirWidget) {
  struct Case {
    Mode mode;
    WPARAM letter;
    bool InstallerState::*option;
    int32_t id;
  };
  const Case cases[] = {
      {Install, 'C', &InstallerState::createDesktopShortcut, kDesktopShortcutRow},
      {Install, 'L', &InstallerState::launchAtEnd, kLaunchAtEndRow},
      {Uninstall, 'S', &InstallerState::removeUserData, kRemoveDataRow},
  };
  for (const Case& c : cases) {
    Show(c.mode, Welcome);
    const bool before = InstallerState.*c.option;
    AltKey(c.letter);
    EXPECT_EQ(InstallerState.*c.option, !before) << static_cast<char>(c.letter);
    EXPECT_EQ(InstallerState.focusId, c.id);
  }
  // A letter of no widget is left to the system and changes nothing.
  ResetWidgetState();
  Show(Install, Welcome);
  AltKey('Z');
  EXPECT_TRUE(InstallerState.createDesktopShortcut);
  EXPECT_TRUE(InstallerState.launchAtEnd);
  EXPECT_EQ(InstallerState.focusId, kMainButton);
  // Alt+A is "Annuler": it closes.
  AltKey('A');
  EXPECT_FALSE(IsWindow(window_));
}

TEST_F(WindowKeyboard, TheFocusRingAndAltLettersShowOnlyOnceTheKeyboardIsUsed) {
  // With the system's keyboard cues on (Wine's default) they always show:
  // switched off for this test, for this session only.
  BOOL cues = FALSE;
  SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0);
  ASSERT_TRUE(SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, nullptr, 0));
  ASSERT_FALSE(KeyboardCuesOn());
  Show(Install, Welcome);
  const std::vector<uint32_t> mouseLook = FramePixels();
  ASSERT_EQ(mouseLook.size(), 780u * 470u);
  InstallerState.keyboardUsed = true;
  const std::vector<uint32_t> ring = FramePixels();
  InstallerState.keyboardUsed = false;
  InstallerState.altHeld = true;
  const std::vector<uint32_t> letters = FramePixels();
  InstallerState.altHeld = false;
  EXPECT_EQ(FramePixels(), mouseLook);  // the mouse user's frame is unchanged
  auto differ = [&](const std::vector<uint32_t>& other, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += other[y * 780 + x] != mouseLook[y * 780 + x];
    return n;
  };
  // The ring goes round the main button (340, 384, w, 50), 3 units out.
  const HitRegion* main = RegionOf(kMainButton);
  ASSERT_NE(main, nullptr);
  const int right = static_cast<int>(main->rect.X + main->rect.Width);
  EXPECT_GT(differ(ring, 334, 378, 339, 440), 20);      // its left side
  EXPECT_EQ(differ(ring, right + 6, 0, 780, 470), 0);   // nothing right of it
  EXPECT_GT(differ(letters, 340, 384, right, 434), 0);  // "I" of Installer underlined
  EXPECT_GT(differ(letters, 374, 147, 400, 191), 0);    // "C" of the first row
}
