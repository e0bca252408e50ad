// A setup file is usually started from a Downloads folder, where any program
// may have dropped a DLL. The entry point restricts the DLL search to
// System32, and every DLL outside the always-loaded set is delay-loaded after
// that. Some loaders (Wine's among them) still resolve the *imports* of such
// a DLL along the ordinary path, program folder first. So a late DLL's own
// imports are loaded from System32 first, by walking its import table.
#include "app/system_dll.h"

#include <delayimp.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

static bool IsApiSet(const char* name) {
  return _strnicmp(name, "api-", 4) == 0 || _strnicmp(name, "ext-", 4) == 0;
}

static std::vector<std::wstring> ImportedNames(const wchar_t* name) {
  std::vector<std::wstring> names;
  HMODULE image =
      LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!image) return names;
  // The low bits of a handle to a module mapped as a resource mark it as such.
  auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(image) & ~static_cast<ULONG_PTR>(3));
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (dos->e_magic == IMAGE_DOS_SIGNATURE && nt->Signature == IMAGE_NT_SIGNATURE &&
      nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR_MAGIC) {
    auto add = [&](DWORD nameRva) {
      const char* dll = reinterpret_cast<const char*>(base + nameRva);
      if (IsApiSet(dll)) return;
      std::wstring wide;
      for (const char* c = dll; *c; ++c) wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
      names.push_back(wide);
    };
    const IMAGE_DATA_DIRECTORY* dirs = nt->OptionalHeader.DataDirectory;
    const IMAGE_DATA_DIRECTORY& imports = dirs[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress && imports.Size)
      for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name;
           ++d)
        add(d->Name);
    const IMAGE_DATA_DIRECTORY& delayed = dirs[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    if (delayed.VirtualAddress && delayed.Size)
      for (auto* d = reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(base + delayed.VirtualAddress);
           d->DllNameRVA; ++d)
        add(d->DllNameRVA);
  }
  FreeLibrary(image);
  return names;
}

// Like LoadLibraryExW, the result holds one reference that FreeLibrary drops.
static HMODULE LoadWithImports(const wchar_t* name, int depth) {
  if (!GetModuleHandleW(name) && depth < 8)
    for (const std::wstring& import : ImportedNames(name))
      if (!GetModuleHandleW(import.c_str())) LoadWithImports(import.c_str(), depth + 1);
  return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* name) { return LoadWithImports(name, 0); }

// Every delay-loaded DLL goes through the same path.
static FARPROC WINAPI DelayLoadNotify(unsigned notify, PDelayLoadInfo info) {
  if (notify != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
  std::wstring name;
  for (const char* c = info->szDll; *c; ++c) name += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  return reinterpret_cast<FARPROC>(LoadSystemLibrary(name.c_str()));
}

PfnDliHook __pfnDliNotifyHook2 = DelayLoadNotify;  // declared extern "C" by delayimp.h
