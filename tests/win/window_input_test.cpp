// Input handling: hit tests at a scale, the click rule, keys, the close rule
// and DPI changes, through the real window procedure.
#include "window_test_util.h"

namespace {

const auto* const gdiplusEnvironment = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

class WindowInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
    ResetWidgetState();
  }
  void TearDown() override {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    SetScreen(Welcome);
    InstallerState.uiScale = 1.0f;
  }
  HWND Open(float scale) {
    const SIZE size = ScaledWindowSize(scale);
    window_ = MakeTestWindow(size.cx, size.cy);
    return window_;
  }
  void Click(LPARAM down, LPARAM up) {
    SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, down);
    SendMessageW(window_, WM_LBUTTONUP, 0, up);
  }
  HWND window_ = nullptr;
};

}  // namespace

TEST_F(WindowInput, PixelsAreDividedByTheScale) {
  const Gdiplus::PointF p = LayoutPoint(MAKELPARAM(510, 612), 1.5f);
  EXPECT_FLOAT_EQ(p.X, 340.0f);
  EXPECT_FLOAT_EQ(p.Y, 408.0f);
  // Points left of or above the window stay negative.
  const Gdiplus::PointF q = LayoutPoint(MAKELPARAM(-30, -6), 2.0f);
  EXPECT_FLOAT_EQ(q.X, -15.0f);
  EXPECT_FLOAT_EQ(q.Y, -3.0f);
}

TEST_F(WindowInput, ClickAtScaleOneAndAHalfLandsOnTheMainButton) {
  ASSERT_TRUE(Open(1.5f));
  PaintFrame(Install, Welcome, 1.5f);
  EXPECT_EQ(HitTest(window_, MAKELPARAM(510, 612), false), kMainButton);
  // Right and bottom edges are outside: the button row ends at y = 434.
  EXPECT_EQ(HitTest(window_, PixelOf(345, 434, 1.5f), false), 0);
  EXPECT_EQ(HitTest(window_, PixelOf(345, 433.5f, 1.5f), false), kMainButton);
  EXPECT_EQ(HitTest(window_, PixelOf(150, 200, 1.5f), false), 0);  // brand panel
  EXPECT_EQ(HitTest(window_, PixelOf(760, 20, 1.5f), false), kCloseButton);
}

TEST_F(WindowInput, EmptyAreasDragTheWindowAndWidgetsStayClient) {
  ASSERT_TRUE(Open(1.0f));
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  PaintFrame(Install, Welcome);
  auto ncHit = [&](float x, float y) {
    POINT p = {static_cast<LONG>(x), static_cast<LONG>(y)};
    ClientToScreen(window_, &p);
    return SendMessageW(window_, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
  };
  EXPECT_EQ(ncHit(150, 200), HTCAPTION);  // brand panel
  EXPECT_EQ(ncHit(400, 80), HTCAPTION);   // heading text
  EXPECT_EQ(ncHit(560, 370), HTCAPTION);  // between the widgets
  EXPECT_EQ(ncHit(360, 170), HTCLIENT);   // first check row
  EXPECT_EQ(ncHit(350, 400), HTCLIENT);   // main button
}

TEST_F(WindowInput, AClickNeedsPressAndReleaseOnTheSameWidget) {
  ASSERT_TRUE(Open(1.0f));
  PaintFrame(Install, Welcome);
  const LPARAM row5 = CentreOf(kDesktopShortcutRow, 1);
  const LPARAM row6 = CentreOf(kLaunchAtEndRow, 1);

  Click(row5, row5);
  EXPECT_FALSE(InstallerState.createDesktopShortcut);
  EXPECT_EQ(InstallerState.pressedId, 0);

  Click(row5, row6);  // pressed on one row, released on the other
  EXPECT_FALSE(InstallerState.createDesktopShortcut);
  EXPECT_TRUE(InstallerState.launchAtEnd);

  Click(row6, MAKELPARAM(-40, 900));  // released outside the window
  EXPECT_TRUE(InstallerState.launchAtEnd);

  Click(PixelOf(560, 370, 1), row6);  // pressed on no widget
  EXPECT_TRUE(InstallerState.launchAtEnd);

  // Pressed on the main button, moved off and released: nothing starts.
  Click(CentreOf(kMainButton, 1), PixelOf(560, 370, 1));
  EXPECT_EQ(CurrentScreen(), Welcome);
  EXPECT_FALSE(InstallerState.worker.joinable());

  Click(row6, row6);
  EXPECT_FALSE(InstallerState.launchAtEnd);
}

TEST_F(WindowInput, UninstallOptionToggles) {
  ASSERT_TRUE(Open(1.0f));
  PaintFrame(Uninstall, Welcome);
  const LPARAM row = CentreOf(kRemoveDataRow, 1);
  Click(row, row);
  EXPECT_TRUE(InstallerState.removeUserData);
  Click(row, row);
  EXPECT_FALSE(InstallerState.removeUserData);
}

TEST_F(WindowInput, HoverFollowsTheWidgetUnderThePointer) {
  ASSERT_TRUE(Open(1.0f));
  PaintFrame(Install, Welcome);
  SendMessageW(window_, WM_MOUSEMOVE, 0, CentreOf(kChangeFolderButton, 1));
  EXPECT_EQ(InstallerState.hoverId, kChangeFolderButton);
  // "Modifier" reacts up to 5 units around its drawn box.
  const HitRegion* modify = RegionOf(kChangeFolderButton);
  ASSERT_NE(modify, nullptr);
  SendMessageW(window_, WM_MOUSEMOVE, 0, PixelOf(modify->rect.X + 1, modify->rect.Y + 1, 1));
  EXPECT_EQ(InstallerState.hoverId, kChangeFolderButton);
  SendMessageW(window_, WM_MOUSEMOVE, 0, PixelOf(560, 370, 1));
  EXPECT_EQ(InstallerState.hoverId, 0);
  SendMessageW(window_, WM_MOUSEMOVE, 0, CentreOf(kSecondaryButton, 1));
  EXPECT_EQ(InstallerState.hoverId, kSecondaryButton);
  SendMessageW(window_, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(InstallerState.hoverId, 0);
}

TEST_F(WindowInput, NothingClosesTheWindowDuringProgress) {
  ASSERT_TRUE(Open(1.0f));
  PaintFrame(Install, Progress);
  EXPECT_EQ(RegionIds(), std::vector<int32_t>{kMinimizeButton});
  SendMessageW(window_, WM_KEYDOWN, VK_ESCAPE, 0);
  SendMessageW(window_, WM_CLOSE, 0, 0);
  SendMessageW(window_, WM_KEYDOWN, VK_RETURN, 0);
  ClickWidget(window_, kCloseButton);
  ClickWidget(window_, kSecondaryButton);
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_EQ(CurrentScreen(), Progress);
}

TEST_F(WindowInput, EscapeAndCloseLeaveEveryOtherScreen) {
  for (Screen screen : {Welcome, Error}) {
    for (UINT message : {static_cast<UINT>(WM_KEYDOWN), static_cast<UINT>(WM_CLOSE)}) {
      ASSERT_TRUE(Open(1.0f));
      PaintFrame(Install, screen);
      SendMessageW(window_, message, message == WM_KEYDOWN ? VK_ESCAPE : 0, 0);
      EXPECT_FALSE(IsWindow(window_)) << screen << " " << message;
    }
  }
  // The Done screen of an uninstall closes on Enter and launches nothing.
  ASSERT_TRUE(Open(1.0f));
  PaintFrame(Uninstall, Done);
  SendMessageW(window_, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_FALSE(IsWindow(window_));
}

TEST_F(WindowInput, DpiChangeTakesTheNewScaleAndDropsTheBackdrop) {
  ASSERT_TRUE(Open(1.0f));
  InstallerState.uiScale = 1.0f;
  RenderBackdrop(780, 470);
  ASSERT_NE(backdropBitmap, nullptr);
  RECT suggested = {50, 60, 50 + 1170, 60 + 705};
  SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_FLOAT_EQ(InstallerState.uiScale, 1.5f);
  EXPECT_EQ(backdropBitmap, nullptr);
  RECT r;
  GetWindowRect(window_, &r);
  EXPECT_EQ(r.left, 50);
  EXPECT_EQ(r.right - r.left, 1170);
  EXPECT_EQ(r.bottom - r.top, 705);
}

TEST(WindowSize, LayoutTimesScaleTruncated) {
  EXPECT_EQ(ScaledWindowSize(1.0f).cx, 780);
  EXPECT_EQ(ScaledWindowSize(1.0f).cy, 470);
  EXPECT_EQ(ScaledWindowSize(1.5f).cx, 1170);
  EXPECT_EQ(ScaledWindowSize(1.5f).cy, 705);
  EXPECT_EQ(ScaledWindowSize(1.25f).cx, 975);
  EXPECT_EQ(ScaledWindowSize(1.25f).cy, 587);
}
