// The layered repaint: a frame tick repaints only what can have changed, over
// a cached layer of the still content, and must show exactly the pixels (and
// leave the hit regions) of a whole repaint of the same moment. Driven as the
// window is: frame ticks and input through the window procedure, and each
// invalidated part painted by PaintWindow on a device context of its own.
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "window/compose.h"
#include "window_test_util.h"

namespace {

const auto* const gdiplusEnvironment = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

// What the window shows: a top-down 32-bit section in a memory DC.
struct ClientPixels {
  ClientPixels(int w, int h) : width(w), height(h), dc(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    pixels = static_cast<uint32_t*>(bits);
    previous = SelectObject(dc, section);
  }
  ~ClientPixels() {
    SelectObject(dc, previous);
    DeleteObject(section);
    DeleteDC(dc);
  }
  int width, height;
  HDC dc;
  HBITMAP section = nullptr;
  HGDIOBJ previous = nullptr;
  uint32_t* pixels = nullptr;
};

class WindowCompose : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
    // Still frames: the bar's flow and the cursor's blink follow the clock,
    // which a later whole repaint could not match.
    SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animations_, 0);
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETCLIENTAREAANIMATION, 0, reinterpret_cast<void*>(FALSE), 0));
    ResetWidgetState();
    InstallerState.bytesTotal = 160ull << 20;
  }
  void TearDown() override {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    ReleaseFrameSurfaces();
    SystemParametersInfoW(SPI_SETCLIENTAREAANIMATION, 0,
                          reinterpret_cast<void*>(static_cast<intptr_t>(animations_)), 0);
    InstallerState.mode = Install;
    SetScreen(Welcome);
    InstallerState.uiScale = 1.0f;
    InstallerState.bytesDone = 0;
    InstallerState.bytesTotal = 0;
    SetTexts(L"", L"");
  }

  static void SetTexts(const std::wstring& status, const std::wstring& error) {
    std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
    InstallerState.statusText = status;
    InstallerState.errorText = error;
  }

  // Every pending WM_PAINT, as the message loop would deliver them.
  void PaintPending(ClientPixels& client) {
    RECT dirty;
    for (int round = 0; round < 4 && GetUpdateRect(window_, &dirty, FALSE); ++round) {
      ValidateRect(window_, nullptr);
      HRGN clip = CreateRectRgnIndirect(&dirty);
      SelectClipRgn(client.dc, clip);
      DeleteObject(clip);
      PaintWindow(window_, client.dc);
      SelectClipRgn(client.dc, nullptr);
    }
  }

  // One frame tick and its paints, then the window's pixels and hit regions
  // against a whole repaint of the same state.
  void TickAndCompare(ClientPixels& client, const std::string& step) {
    SendMessageW(window_, WM_TIMER, 1, 0);
    PaintPending(client);
    ExpectWholeRepaint(client, step);
  }

  void ExpectWholeRepaint(ClientPixels& client, const std::string& step) {
    const std::vector<HitRegion> regions = InstallerState.hitRegions;
    Gdiplus::Bitmap whole(client.width, client.height, PixelFormat32bppPARGB);
    {
      Gdiplus::Graphics g(&whole);
      PaintScreens(g);
    }
    ASSERT_EQ(regions.size(), InstallerState.hitRegions.size()) << step;
    for (size_t i = 0; i < regions.size(); ++i) {
      const HitRegion &a = regions[i], &b = InstallerState.hitRegions[i];
      EXPECT_TRUE(a.id == b.id && a.rect.Equals(b.rect)) << step << ": region " << i;
    }
    Gdiplus::Rect all(0, 0, client.width, client.height);
    Gdiplus::BitmapData data;
    ASSERT_EQ(whole.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data), Gdiplus::Ok);
    int wrong = 0, firstX = -1, firstY = -1;
    uint32_t shown = 0, expected = 0;
    for (int y = 0; y < client.height; ++y) {
      const uint32_t* row =
          reinterpret_cast<const uint32_t*>(static_cast<BYTE*>(data.Scan0) + y * data.Stride);
      for (int x = 0; x < client.width; ++x) {
        const uint32_t a = client.pixels[static_cast<size_t>(y) * client.width + x] & 0xFFFFFF;
        const uint32_t e = row[x] & 0xFFFFFF;
        if (a != e && wrong++ == 0) firstX = x, firstY = y, shown = a, expected = e;
      }
    }
    whole.UnlockBits(&data);
    EXPECT_EQ(wrong, 0) << step << ": first at (" << firstX << ", " << firstY << "), shown " << std::hex
                        << shown << ", whole repaint " << expected;
  }

  void Mouse(UINT message, int32_t id) {
    SendMessageW(window_, message, 0, CentreOf(id, InstallerState.uiScale));
  }

  BOOL animations_ = TRUE;
  HWND window_ = nullptr;
};

}  // namespace

TEST_F(WindowCompose, EveryTickShowsTheWholeRepaint) {
  for (float scale : {1.0f, 2.0f}) {
    InstallerState.uiScale = scale;
    InstallerState.mode = Install;
    SetScreen(Welcome);
    const SIZE size = ScaledWindowSize(scale);
    window_ = MakeTestWindow(size.cx, size.cy);
    ASSERT_TRUE(window_);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    ClientPixels client(size.cx, size.cy);
    ASSERT_NE(client.pixels, nullptr);
    const std::string at = " at scale " + std::to_string(static_cast<int>(scale));

    auto progress = [](Mode mode, uint64_t permille, const wchar_t* status) {
      InstallerState.mode = mode;
      SetScreen(Progress);
      InstallerState.bytesDone = InstallerState.bytesTotal.load() / 1000 * permille;
      SetTexts(status, L"");
    };
    const std::pair<std::string, std::function<void()>> steps[] = {
        {"install welcome", [] {}},
        {"hover on the first row", [&] { Mouse(WM_MOUSEMOVE, kDesktopShortcutRow); }},
        {"first row unticked",
         [&] {
           Mouse(WM_LBUTTONDOWN, kDesktopShortcutRow);
           Mouse(WM_LBUTTONUP, kDesktopShortcutRow);
         }},
        {"hover on the main button", [&] { Mouse(WM_MOUSEMOVE, kMainButton); }},
        {"pressed on the folder button", [&] { Mouse(WM_LBUTTONDOWN, kChangeFolderButton); }},
        {"released off it, mouse gone",
         [&] {
           SendMessageW(window_, WM_LBUTTONUP, 0, PixelOf(600, 360, InstallerState.uiScale));
           SendMessageW(window_, WM_MOUSELEAVE, 0, 0);
         }},
        {"progress 0 %", [&] { progress(Install, 0, L"Pr\u00e9paration\u2026"); }},
        {"progress 3.7 %", [&] { progress(Install, 37, L"Pr\u00e9paration\u2026"); }},
        {"progress 37 %", [&] { progress(Install, 370, L"Norvale-Lockra.exe"); }},
        {"progress 73 %", [&] { progress(Install, 730, L"ui\\index.html"); }},
        {"status changed alone", [&] { SetTexts(L"Inscription dans Windows\u2026", L""); }},
        {"progress 100 %", [&] { progress(Install, 1000, L"Inscription dans Windows\u2026"); }},
        {"install done", [&] { SetScreen(Done); }},
        {"hover on launch", [&] { Mouse(WM_MOUSEMOVE, kMainButton); }},
        {"error",
         [&] {
           SetScreen(Error);
           SetTexts(L"",
                    L"Impossible d\u2019\u00e9crire C:\\users\\test\\AppData\\Local\\Programs\\Norvale "
                    L"Lockra\\LISEZMOI.txt : le fichier est utilis\u00e9 par un autre programme.");
         }},
        {"uninstall welcome",
         [&] {
           InstallerState.mode = Uninstall;
           SetScreen(Welcome);
           SendMessageW(window_, WM_MOUSELEAVE, 0, 0);
         }},
        {"remove data ticked",
         [&] {
           Mouse(WM_LBUTTONDOWN, kRemoveDataRow);
           Mouse(WM_LBUTTONUP, kRemoveDataRow);
         }},
        {"uninstall progress 50 %", [&] { progress(Uninstall, 500, L"Suppression des fichiers\u2026"); }},
        {"uninstall done", [&] { SetScreen(Done); }},
        {"update progress 12 %", [&] { progress(Update, 120, L"Pr\u00e9paration\u2026"); }},
        {"update progress 100 %", [&] { progress(Update, 1000, L"Termin\u00e9"); }},
    };
    for (const auto& [name, change] : steps) {
      change();
      TickAndCompare(client, name + at);
      // A tick with nothing changed repaints the animated area of Progress
      // and nothing on the other screens.
      SendMessageW(window_, WM_TIMER, 1, 0);
      RECT asked;
      const bool repaint = GetUpdateRect(window_, &asked, FALSE);
      EXPECT_EQ(repaint, CurrentScreen() == Progress) << name << at;
      if (repaint) {
        EXPECT_LT(asked.bottom - asked.top, size.cy / 3) << name << at;
      }
      PaintPending(client);
      ExpectWholeRepaint(client, name + ", next tick" + at);
    }

    // The counters move between a tick and its paint: the paint was asked for
    // the animated area only, yet the still content changed everywhere.
    progress(Install, 400, L"ui\\style.css");
    TickAndCompare(client, "progress 40 %" + at);
    SendMessageW(window_, WM_TIMER, 1, 0);
    RECT asked;
    ASSERT_TRUE(GetUpdateRect(window_, &asked, FALSE));
    EXPECT_LT(asked.right - asked.left, size.cx);
    progress(Install, 410, L"ui\\style.css");
    PaintPending(client);
    ExpectWholeRepaint(client, "progress 41 % after the tick" + at);

    DestroyWindow(window_);
    window_ = nullptr;
  }
}
