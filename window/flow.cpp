#include "window/flow.h"

#include <atomic>
#include <string>

#include "app/texts.h"
#include "system/process.h"
#include "system/sequences.h"

namespace {

constexpr uint64_t kUpdateClosePauseMs = 900;

// Set once the product has been started by this window, so that a Done
// screen left through several paths starts it only once.
bool productLaunched = false;

}  // namespace

// `screen` and `finishTick` are plain fields of the shared record; the worker
// publishes them through atomic views: finishTick first, then the screen
// with release order, which the window thread reads with acquire order.
Screen CurrentScreen() {
  return std::atomic_ref<Screen>(InstallerState.screen).load(std::memory_order_acquire);
}

void SetScreen(Screen screen) {
  std::atomic_ref<Screen>(InstallerState.screen).store(screen, std::memory_order_release);
}

uint64_t FinishTick() {
  return std::atomic_ref<uint64_t>(InstallerState.finishTick).load(std::memory_order_relaxed);
}

void StartWorker() {
  SetScreen(Progress);
  InstallerState.bytesDone.store(0);
  if (InstallerState.worker.joinable()) InstallerState.worker.join();
  try {
    InstallerState.worker = std::thread(WorkerMain);
  } catch (...) {
    // No thread could be made: report the run as failed rather than let the
    // window wait on a Progress screen that nothing will ever end.
    FinishWorker(false);
  }
}

void WorkerMain() {
  // "Réessayer" meets the same unreadable command line every time.
  if (InstallerState.commandLineRefused) {
    SetErrorText(kCommandLineRefusedMessage);
    FinishWorker(false);
    return;
  }
  const bool success = InstallerState.mode == Uninstall ? RunUninstall() : RunInstall();
  FinishWorker(success);
}

void FinishWorker(bool success) {
  std::atomic_ref<uint64_t>(InstallerState.finishTick).store(GetTickCount64(), std::memory_order_relaxed);
  SetScreen(success ? Done : Error);
  if (InstallerState.window) InvalidateRect(InstallerState.window, nullptr, FALSE);
}

bool AnimationsEnabled() {
  BOOL enabled = FALSE;
  const bool succeeded = SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &enabled, 0) != FALSE;
  return AnimationsFromQuery(succeeded, enabled);
}

bool AnimationsFromQuery(bool succeeded, BOOL value) { return !succeeded || value != FALSE; }

void LaunchInstalledProduct() {
  if (productLaunched) return;
  productLaunched = true;
  const std::wstring& folder = InstallerState.installDir;
  LaunchProduct(folder + L"\\" + kProductExe, folder, L"");
}

bool LeavingShouldLaunch() {
  if (CurrentScreen() != Done) return false;
  // The "launch at the end" box belongs to the install Welcome screen; an
  // update never shows it, so only "/relaunch=1" starts the product then.
  if (InstallerState.mode == Install) return InstallerState.launchAtEnd;
  return InstallerState.mode == Update && InstallerState.relaunch;
}

bool UpdateAutoCloseDue(uint64_t now) {
  return InstallerState.mode == Update && CurrentScreen() == Done && now - FinishTick() > kUpdateClosePauseMs;
}

void OnFrameTimer(HWND window) {
  if (!UpdateAutoCloseDue(GetTickCount64())) return;
  if (LeavingShouldLaunch()) LaunchInstalledProduct();
  DestroyWindow(window);
}
