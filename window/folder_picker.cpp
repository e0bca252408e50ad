#include "window/folder_picker.h"

#include <objidl.h>
#include <shobjidl.h>

#include "app/helpers.h"
#include "app/state.h"
#include "app/texts.h"

namespace {

constexpr wchar_t kProductFolderSuffix[] = L"\\Norvale Lockra";

}  // namespace

std::wstring InstallFolderFor(std::wstring chosen) {
  while (!chosen.empty() && chosen.back() == L'\\') chosen.pop_back();
  const size_t suffixLength = wcslen(kProductFolderSuffix);
  const bool hasSuffix = chosen.size() >= suffixLength &&
                         SameTextIgnoringCase(std::wstring_view(chosen).substr(chosen.size() - suffixLength),
                                              kProductFolderSuffix);
  if (!hasSuffix) chosen += kProductFolderSuffix;
  return chosen;
}

void PickInstallFolder(HWND owner) {
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              reinterpret_cast<void**>(&dialog)))) {
    return;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  dialog->SetTitle(kFolderPickerTitle);
  if (SUCCEEDED(dialog->Show(owner))) {
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->GetResult(&item))) {
      wchar_t* path = nullptr;
      if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
        InstallerState.installDir = InstallFolderFor(path);
        CoTaskMemFree(path);
      }
      item->Release();
    }
  }
  dialog->Release();
}
