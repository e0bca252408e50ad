#include "system/shortcuts.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

#include "app/helpers.h"
#include "app/log.h"
#include "app/state.h"
#include "app/texts.h"

namespace {

// An unresolved known folder gives no path at all, never one relative to the
// current drive: callers skip the shortcut then.
std::wstring ShortcutIn(REFKNOWNFOLDERID folderId) {
  std::wstring folder = KnownFolderPath(folderId);
  if (folder.empty()) return std::wstring();
  return folder + L"\\" + kProductName + L".lnk";
}

}  // namespace

std::wstring StartMenuShortcutPath() { return ShortcutIn(FOLDERID_Programs); }

std::wstring DesktopShortcutPath() { return ShortcutIn(FOLDERID_Desktop); }

bool CreateShortcut(const std::wstring& shortcutFile, const std::wstring& target,
                    const std::wstring& workingDir) {
  if (shortcutFile.empty()) return false;
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return false;
  link->SetPath(target.c_str());
  link->SetWorkingDirectory(workingDir.c_str());
  link->SetIconLocation(target.c_str(), 0);
  link->SetDescription(kShortcutDescription);
  bool saved = false;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    saved = SUCCEEDED(file->Save(shortcutFile.c_str(), TRUE));
    file->Release();
  }
  link->Release();
  LogLine((saved ? L"shortcut: created " : L"shortcut: could not create ") + shortcutFile);
  return saved;
}

void DeleteShortcut(const std::wstring& shortcutFile) {
  if (shortcutFile.empty()) return;
  // Whatever reads shortcuts as they appear (the shell, an indexer, a virus
  // scanner; under Wine its menu builder) may hold a new one open for a
  // moment, without letting it be deleted: a delete that finds it in use is
  // tried again for about a second before the shortcut is given up.
  DWORD error = 0;
  for (int attempt = 0; attempt < 10; ++attempt) {
    error = DeleteFileW(shortcutFile.c_str()) ? 0 : GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
    Sleep(100);
  }
  LogResult(L"shortcut: removed " + shortcutFile, error);
}
