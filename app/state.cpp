#include "app/state.h"

struct InstallerState InstallerState;

void SetStatus(const std::wstring& text) {
  std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
  InstallerState.statusText = text;
}

void SetErrorText(const std::wstring& text) {
  std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
  InstallerState.errorText = text;
}
