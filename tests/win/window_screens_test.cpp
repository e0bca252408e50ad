// The frame painter: which widgets each screen registers, in which order and
// where, the screen tags, and the export of the seven preview images.
#include "support/test_support.h"
#include "window/preview.h"
#include "window_test_util.h"

namespace {

const auto* const gdiplusEnvironment = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

class WindowScreens : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
    InstallerState.hoverId = 0;
    InstallerState.pressedId = 0;
    InstallerState.installDir = L"C:\\users\\test\\AppData\\Local\\Programs\\Norvale Lockra";
  }
  void TearDown() override {
    SetScreen(Welcome);
    InstallerState.mode = Install;
    InstallerState.uiScale = 1.0f;
  }
};

using Ids = std::vector<int32_t>;

}  // namespace

TEST_F(WindowScreens, EachScreenRegistersItsWidgetsInDrawingOrder) {
  PaintFrame(Install, Welcome);
  EXPECT_EQ(RegionIds(), (Ids{2, 1, 5, 6, 7, 3, 4}));
  PaintFrame(Uninstall, Welcome);
  EXPECT_EQ(RegionIds(), (Ids{2, 1, 8, 3, 4}));
  PaintFrame(Install, Progress);
  EXPECT_EQ(RegionIds(), (Ids{2}));
  PaintFrame(Update, Progress);
  EXPECT_EQ(RegionIds(), (Ids{2}));
  PaintFrame(Install, Done);
  EXPECT_EQ(RegionIds(), (Ids{2, 1, 3, 4}));
  PaintFrame(Uninstall, Done);
  EXPECT_EQ(RegionIds(), (Ids{2, 1, 3}));
  PaintFrame(Install, Error);
  EXPECT_EQ(RegionIds(), (Ids{2, 1, 3, 4}));
}

TEST_F(WindowScreens, WidgetsSitOnTheLayoutGrid) {
  PaintFrame(Install, Welcome);
  const HitRegion* close = RegionOf(kCloseButton);
  const HitRegion* main = RegionOf(kMainButton);
  const HitRegion* second = RegionOf(kSecondaryButton);
  const HitRegion* modify = RegionOf(kChangeFolderButton);
  ASSERT_TRUE(close && main && second && modify);
  EXPECT_FLOAT_EQ(close->rect.X + close->rect.Width, 780.0f);
  EXPECT_FLOAT_EQ(main->rect.X, 340.0f);
  EXPECT_FLOAT_EQ(main->rect.Y, 384.0f);
  EXPECT_FLOAT_EQ(second->rect.X, 340.0f + main->rect.Width + 12.0f);
  EXPECT_FLOAT_EQ(RegionOf(kDesktopShortcutRow)->rect.Y, 147.0f);
  EXPECT_FLOAT_EQ(RegionOf(kLaunchAtEndRow)->rect.Y, 191.0f);
  // "Modifier": 30 units high at y 274, grown by 5, ending 6 units inside the field.
  EXPECT_FLOAT_EQ(modify->rect.Y, 269.0f);
  EXPECT_FLOAT_EQ(modify->rect.Height, 40.0f);
  EXPECT_FLOAT_EQ(modify->rect.X + modify->rect.Width, 740.0f - 6.0f + 5.0f);

  PaintFrame(Uninstall, Welcome);
  EXPECT_FLOAT_EQ(RegionOf(kRemoveDataRow)->rect.Y, 151.0f);

  // The launch button of an install's Done screen carries an arrow: it is
  // wider than the same label without one would be, and "Fermer" follows it.
  PaintFrame(Install, Done);
  const float launchWidth = RegionOf(kMainButton)->rect.Width;
  EXPECT_FLOAT_EQ(RegionOf(kSecondaryButton)->rect.X, 340.0f + launchWidth + 12.0f);
  PaintFrame(Uninstall, Done);
  EXPECT_LT(RegionOf(kMainButton)->rect.Width, launchWidth);
}

TEST_F(WindowScreens, RegionsScaleWithTheWindowButStayInLayoutUnits) {
  PaintFrame(Install, Welcome, 1.0f);
  const Gdiplus::RectF at1 = RegionOf(kMainButton)->rect;
  PaintFrame(Install, Welcome, 2.0f);
  const Gdiplus::RectF at2 = RegionOf(kMainButton)->rect;
  EXPECT_FLOAT_EQ(at2.X, at1.X);
  EXPECT_FLOAT_EQ(at2.Y, at1.Y);
  EXPECT_NEAR(at2.Width, at1.Width, 2.0f);  // text measured at another pixel size
}

TEST(WindowScreenTag, NamesTheModeAndTheEnd) {
  EXPECT_EQ(ScreenTag(Install, Welcome), L"INSTALLATION");
  EXPECT_EQ(ScreenTag(Update, Progress), L"MISE \u00c0 JOUR");
  EXPECT_EQ(ScreenTag(Update, Done), L"MISE \u00c0 JOUR TERMIN\u00c9E");
  EXPECT_EQ(ScreenTag(Uninstall, Done), L"D\u00c9SINSTALLATION TERMIN\u00c9E");
  EXPECT_EQ(ScreenTag(Install, Error), L"INSTALLATION");
}

TEST_F(WindowScreens, PreviewExportWritesSevenImagesAtDoubleSize) {
  CLSID png;
  ASSERT_TRUE(FindPngEncoder(&png));
  TempFolder temp;
  const std::wstring folder = temp.path + L"\\apercu\\nested";
  ASSERT_EQ(ExportPreviews(folder), 0);
  const wchar_t* names[] = {L"06-accueil",     L"07-progression", L"08-termine",    L"09-desinstallation",
                            L"10-desinstalle", L"11-erreur",      L"12-mise-a-jour"};
  for (const wchar_t* name : names) {
    Gdiplus::Bitmap image((folder + L"\\" + name + L".png").c_str());
    ASSERT_EQ(image.GetLastStatus(), Gdiplus::Ok) << Narrow(name);
    EXPECT_EQ(image.GetWidth(), 1560u);
    EXPECT_EQ(image.GetHeight(), 940u);
  }
  // Exactly these seven, nothing else.
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  int files = 0;
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  EXPECT_EQ(files, 7);
  EXPECT_FLOAT_EQ(InstallerState.uiScale, 2.0f);
}

TEST_F(WindowScreens, PreviewExportIntoAnUnusableFolderFails) {
  TempFolder temp;
  const std::wstring blocker = temp.path + L"\\file";
  ASSERT_TRUE(WriteFileBytes(blocker, {1, 2, 3}));
  // A file stands where the folder should be: the first save fails.
  EXPECT_EQ(ExportPreviews(blocker + L"\\inside"), 1);
  EXPECT_EQ(GetFileAttributesW((blocker + L"\\inside\\06-accueil.png").c_str()), INVALID_FILE_ATTRIBUTES);
}
