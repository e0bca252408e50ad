// The screen flow: the worker's start and end, the publication of the
// outcome, the automatic close after an update, and when leaving the Done
// screen launches the product.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "app/helpers.h"
#include "support/test_support.h"
#include "system/install_record.h"
#include "window/flow.h"

namespace {

void WaitWhileProgress() {
  for (int i = 0; i < 600 && CurrentScreen() == Progress; ++i) Sleep(50);
}

class WindowFlow : public ::testing::Test {
 protected:
  void TearDown() override {
    if (InstallerState.worker.joinable()) InstallerState.worker.join();
    InstallerState.mode = Install;
    SetScreen(Welcome);
    InstallerState.launchAtEnd = true;
    InstallerState.relaunch = false;
  }
};

}  // namespace

TEST_F(WindowFlow, FinishWorkerStampsTheTickThenPublishesTheScreen) {
  const uint64_t before = GetTickCount64();
  FinishWorker(true);
  EXPECT_EQ(CurrentScreen(), Done);
  EXPECT_GE(FinishTick(), before);
  EXPECT_LE(FinishTick(), GetTickCount64());
  FinishWorker(false);
  EXPECT_EQ(CurrentScreen(), Error);
}

TEST_F(WindowFlow, AReaderThatSeesTheEndAlsoSeesItsTick) {
  for (int round = 0; round < 50; ++round) {
    SetScreen(Progress);
    std::atomic_ref<uint64_t>(InstallerState.finishTick).store(0);
    std::thread worker([round] { FinishWorker(round % 2 == 0); });
    while (CurrentScreen() == Progress) {
    }
    EXPECT_NE(FinishTick(), 0u);
    worker.join();
  }
}

TEST_F(WindowFlow, UpdateClosesOnlyAfter900MsOnDone) {
  InstallerState.mode = Update;
  FinishWorker(true);
  const uint64_t end = FinishTick();
  EXPECT_FALSE(UpdateAutoCloseDue(end));
  EXPECT_FALSE(UpdateAutoCloseDue(end + 900));
  EXPECT_TRUE(UpdateAutoCloseDue(end + 901));
  // A failed update waits for the user.
  FinishWorker(false);
  EXPECT_FALSE(UpdateAutoCloseDue(FinishTick() + 5000));
  // An install never closes by itself.
  InstallerState.mode = Install;
  FinishWorker(true);
  EXPECT_FALSE(UpdateAutoCloseDue(FinishTick() + 5000));
}

// Leaving Done (Fermer, Escape, the close button, Alt+F4, an update's
// automatic close) starts the product after an install with the box ticked,
// and after an update only with "/relaunch=1": the box is an install option.
TEST_F(WindowFlow, LeavingDoneLaunchesAfterAnInstallWithTheBoxOrAnUpdateWithRelaunch) {
  struct Case {
    Mode mode;
    bool launchAtEnd, relaunch, launches;
  };
  const Case cases[] = {
      {Install, true, false, true},   {Install, false, false, false}, {Install, false, true, false},
      {Update, true, false, false},   {Update, false, true, true},    {Update, true, true, true},
      {Uninstall, true, true, false},
  };
  SetScreen(Done);
  for (const Case& c : cases) {
    InstallerState.mode = c.mode;
    InstallerState.launchAtEnd = c.launchAtEnd;
    InstallerState.relaunch = c.relaunch;
    EXPECT_EQ(LeavingShouldLaunch(), c.launches)
        << "mode " << c.mode << " box " << c.launchAtEnd << " relaunch " << c.relaunch;
  }
  InstallerState.mode = Install;
  InstallerState.launchAtEnd = true;
  for (Screen s : {Welcome, Progress, Error}) {
    SetScreen(s);
    EXPECT_FALSE(LeavingShouldLaunch()) << s;
  }
}

TEST_F(WindowFlow, WorkerRunsTheSequenceAndARetryStartsAfresh) {
  TempFolder temp;
  InstallerState.installDir = temp.path + L"\\Norvale Lockra";
  CreateDirectoryW(InstallerState.installDir.c_str(), nullptr);
  InstallerState.mode = Uninstall;
  // No product in the folder yet: the sequence refuses, the Error screen shows.
  StartWorker();
  EXPECT_TRUE(InstallerState.worker.joinable());
  WaitWhileProgress();
  EXPECT_EQ(CurrentScreen(), Error);

  // A second start joins the finished worker and runs the sequence again,
  // which now finds the product.
  InstallRecord record;
  record.createdFolder = true;
  ASSERT_TRUE(WriteInstallRecord(InstallerState.installDir, record));
  StartWorker();
  WaitWhileProgress();
  EXPECT_EQ(CurrentScreen(), Done);
  EXPECT_EQ(InstallerState.bytesDone.load(), 100u);
  EXPECT_FALSE(FileExists(InstallerState.installDir));
}

TEST(WindowAnimations, AFailedQueryCountsAsAnimationsOn) {
  EXPECT_TRUE(AnimationsFromQuery(true, TRUE));
  EXPECT_FALSE(AnimationsFromQuery(true, FALSE));
  EXPECT_TRUE(AnimationsFromQuery(false, FALSE));
  EXPECT_TRUE(AnimationsFromQuery(false, TRUE));
}

TEST_F(WindowFlow, AnimationsFollowTheSystemSetting) {
  auto set = [](BOOL on) {
    return SystemParametersInfoW(SPI_SETCLIENTAREAANIMATION, 0,
                                 reinterpret_cast<void*>(static_cast<intptr_t>(on)), 0) != FALSE;
  };
  BOOL original = TRUE;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &original, 0));
  const std::shared_ptr<void> restore(nullptr, [&](void*) { set(original); });
  for (BOOL on : {FALSE, TRUE, FALSE}) {
    ASSERT_TRUE(set(on));
    EXPECT_EQ(AnimationsEnabled(), on != FALSE) << on;
  }
}
