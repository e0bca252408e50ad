// The accessible object and its events, in process: what a reader's call
// does (and when), and which events each change of the frame raises.
#include <oleacc.h>

#include "window/accessible.h"
#include "window_test_util.h"

namespace {

const auto* const gdiplusEnvironment = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

struct Raised {
  DWORD event;
  LONG child;
};
std::vector<Raised> raised;
HWND watched = nullptr;

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (hwnd == watched && object == OBJID_CLIENT) raised.push_back(Raised{event, child});
}

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

class WindowAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HasEmbeddedResources()) GTEST_SKIP() << "no embedded fonts";
    ResetWidgetState();
    window_ = MakeTestWindow(780, 470);
    watched = window_;
    hook_ = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, OnEvent, GetCurrentProcessId(), 0,
                            WINEVENT_OUTOFCONTEXT);
  }
  void TearDown() override {
    if (hook_) UnhookWinEvent(hook_);
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    SetScreen(Welcome);
    InstallerState.bytesDone = 0;
    InstallerState.bytesTotal = 0;
  }
  // One frame as the window paints it, then what it raised.
  std::vector<Raised> Frame(Mode mode, Screen screen) {
    raised.clear();
    InstallerState.mode = mode;
    SetScreen(screen);
    PrepareFocusForFrame();
    PaintFrame(mode, screen);
    AnnounceFrame(window_);
    Pump();
    return raised;
  }
  static int Count(const std::vector<Raised>& r, DWORD event) {
    int n = 0;
    for (const Raised& e : r) n += e.event == event;
    return n;
  }
  HWND window_ = nullptr;
  HWINEVENTHOOK hook_ = nullptr;
};

}  // namespace

TEST_F(WindowAccess, ScreenChangesTogglesAndLabelsRaiseTheirEvents) {
  ASSERT_NE(hook_, nullptr);
  Frame(Install, Progress);
  std::vector<Raised> r = Frame(Install, Welcome);
  EXPECT_EQ(Count(r, EVENT_OBJECT_REORDER), 1);
  ASSERT_EQ(Count(r, EVENT_OBJECT_FOCUS), 1);
  EXPECT_EQ(InstallerState.focusId, kMainButton);
  for (const Raised& e : r) {
    if (e.event == EVENT_OBJECT_FOCUS) {
      EXPECT_EQ(e.child, ChildOfWidget(kMainButton));
    }
  }

  InstallerState.createDesktopShortcut = false;
  r = Frame(Install, Welcome);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].event, static_cast<DWORD>(EVENT_OBJECT_STATECHANGE));
  EXPECT_EQ(r[0].child, ChildOfWidget(kDesktopShortcutRow));
  EXPECT_TRUE(Frame(Install, Welcome).empty());  // nothing changed, nothing told

  // The status line changing its text on Progress.
  SetStatus(L"Pr\u00e9paration\u2026");
  Frame(Install, Progress);
  SetStatus(L"Copie des fichiers\u2026");
  r = Frame(Install, Progress);
  EXPECT_EQ(Count(r, EVENT_OBJECT_NAMECHANGE), 1);

  // The Error screen reads its reason out.
  SetErrorText(L"Impossible d'\u00e9crire.");
  r = Frame(Install, Error);
  EXPECT_EQ(Count(r, EVENT_SYSTEM_ALERT), 1);
  SetErrorText(L"");
  SetStatus(L"");
}

TEST_F(WindowAccess, ProgressIsToldAtMostFourTimesASecondAndAlwaysAtTheEnd) {
  ASSERT_NE(hook_, nullptr);
  InstallerState.bytesTotal = 100;
  InstallerState.bytesDone = 0;
  Frame(Install, Welcome);
  const uint64_t start = GetTickCount64();
  int told = Count(Frame(Install, Progress), EVENT_OBJECT_VALUECHANGE);  // 0 %
  // Every percent painted in quick succession: one every 250 ms at most,
  // and always the end.
  int last = 0;
  for (uint64_t done = 1; done <= 100; ++done) {
    InstallerState.bytesDone = done;
    last = Count(Frame(Install, Progress), EVENT_OBJECT_VALUECHANGE);
    told += last;
  }
  const uint64_t elapsed = GetTickCount64() - start;
  EXPECT_EQ(last, 1);
  EXPECT_GE(told, 2);
  EXPECT_LE(told, static_cast<int>(elapsed / 250) + 2) << elapsed << " ms";
  EXPECT_LT(told, 100);
}

TEST_F(WindowAccess, DefaultActionRunsAfterTheCallOnTheWindowThread) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));  // as the entry point does
  Frame(Install, Welcome);
  const LRESULT answer = SendMessageW(window_, WM_GETOBJECT, 0, OBJID_CLIENT);
  ASSERT_GT(answer, 0);
  IAccessible* acc = nullptr;
  ASSERT_EQ(ObjectFromLresult(answer, __uuidof(IAccessible), 0, reinterpret_cast<void**>(&acc)), S_OK);
  VARIANT row;
  VariantInit(&row);
  row.vt = VT_I4;
  row.lVal = ChildOfWidget(kDesktopShortcutRow);
  EXPECT_EQ(acc->accDoDefaultAction(row), S_OK);
  EXPECT_TRUE(InstallerState.createDesktopShortcut);  // not yet: posted
  Pump();
  EXPECT_FALSE(InstallerState.createDesktopShortcut);
  // A text has no action.
  VARIANT text = row;
  text.lVal = 3;  // the heading
  EXPECT_EQ(acc->accDoDefaultAction(text), DISP_E_MEMBERNOTFOUND);
  acc->Release();
  CoUninitialize();
}
