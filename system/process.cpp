#include "system/process.h"

bool AskTrayToQuit() { return false; }
void CloseRunningCopies(const std::wstring&, uint32_t) {}
void LaunchProduct(const std::wstring&, const std::wstring&, const std::wstring&) {}
void RunHiddenAndWait(const std::wstring&) {}
