// Turns one command line into one run: switches, package, mode and folder,
// then exactly one of preview, relocation, silent run or window run.
#include "app/launch.h"

// clang-format off
// windows.h must come before the other Windows headers.
#include <windows.h>
// clang-format on

#include <gdiplus.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/helpers.h"
#include "app/log.h"
#include "app/setup_lock.h"
#include "app/state.h"
#include "app/system_dll.h"
#include "app/texts.h"
#include "app/verdict.h"
#include "package/package.h"
#include "system/install_record.h"
#include "system/process.h"
#include "system/sequences.h"
#include "toolkit/assets.h"
#include "toolkit/backdrop.h"
#include "window/preview.h"
#include "window/window.h"

std::wstring RelocationCommandLine(const std::wstring& tempExe, const std::wstring& installDir, bool silent) {
  std::wstring line = L"\"" + tempExe + L"\" /uninstall /fromtemp /dir=\"" + installDir + L"\"";
  if (silent) line += L" /S";
  line += LogSwitch();
  return line;
}

std::wstring SelfDeletionCommandLine(const std::wstring& cmd, const std::wstring& ping,
                                     const std::wstring& selfPath) {
  // cmd drops the first and the last quote of what follows /c when there are
  // more than two: the outer pair is there to be dropped.
  return L"\"" + cmd + L"\" /c \"\"" + ping + L"\" 127.0.0.1 -n 3 >nul & del /f /q \"" + selfPath + L"\"\"";
}

namespace {

// Whether the running file carries a package; set with the mode.
bool packagePresent = false;

}  // namespace

static void MakeDpiAware() {
  // Looked up at run time so that the program still starts where the
  // per-monitor-v2 call does not exist.
  using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto set = user32 ? reinterpret_cast<SetContext>(
                          reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))
                    : nullptr;
  if (set) set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

static ULONG_PTR StartGdiplus() {
  // GDI+ loads its image codecs late and by name; some builds declare that in
  // no import table we could read, so they are brought in from System32 first.
  LoadSystemLibrary(L"windowscodecs.dll");
  LoadSystemLibrary(L"gdiplus.dll");
  Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, nothing suppressed
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  return token;
}

template <typename T>
static void DeleteOwned(T*& object) {
  delete object;
  object = nullptr;
}

void ReadSwitchesAndMode(const wchar_t* line) {
  InstallerState.silent =
      HasSwitch(line, L"/VERYSILENT") || HasSwitch(line, L"/SILENT") || HasSwitch(line, L"/S");
  InstallerState.relaunch = SwitchValue(line, L"/relaunch=") == L"1";
  InstallerState.commandLineRefused = QuoteLeftOpen(line);
  const bool hasPackage = ReadPackageIndex();
  packagePresent = hasPackage;
  // A setup file that still shows where its package was (a trailer, or bytes
  // after its image) is damaged: neither an installer nor an uninstaller.
  InstallerState.damagedPackage = !hasPackage && CarriesUnreadablePackage();
  if (!hasPackage || HasSwitch(line, L"/uninstall"))
    InstallerState.mode = Uninstall;
  else if (HasSwitch(line, L"/update"))
    InstallerState.mode = Update;
  else
    InstallerState.mode = Install;
}

// Whether a package-less executable was started as an uninstaller.
static bool AskedToUninstall(const wchar_t* line, const std::wstring& dir) {
  if (HasSwitch(line, L"/uninstall") || HasSwitch(line, L"/fromtemp")) return true;
  // A double-click on uninstall.exe in the product's folder.
  return SwitchValue(line, L"/dir=").empty() && FolderHoldsProduct(dir);
}

void ResolveInstallDir(const wchar_t* line) {
  std::wstring& dir = InstallerState.installDir;
  dir = SwitchPath(line, L"/dir=");
  // Only an executable without package is an uninstaller by its place; a
  // setup file started with /uninstall from a download folder uninstalls
  // the registered installation.
  if (dir.empty() && InstallerState.mode == Uninstall && !packagePresent)
    dir = ParentDirectory(InstallerState.selfPath);
  if (dir.empty()) dir = ReadRegString(HKEY_CURRENT_USER, kUninstallKey, L"InstallLocation");
  if (dir.empty()) dir = KnownFolderPath(FOLDERID_LocalAppData) + L"\\Programs\\" + kProductName;
  dir = CanonicalFolder(dir);
  if (InstallerState.mode == Uninstall && InstallerState.version.empty())
    InstallerState.version = ReadRegString(HKEY_CURRENT_USER, kUninstallKey, L"DisplayVersion");

  // A setup file whose download stopped inside its package has none (cut
  // within its first bytes it is byte for byte an uninstaller), and would
  // otherwise uninstall the folder it was saved in or the one a deployment
  // script names. A real update always carries a package; a real uninstaller
  // is asked to be one (the uninstall entry's command lines and the
  // relocation say /uninstall), or lies beside the product.
  if (!packagePresent && (HasSwitch(line, L"/update") || !AskedToUninstall(line, dir)))
    InstallerState.damagedPackage = true;
}

// One spelling of the folder, made once, for everything that creates,
// registers, compares or shows it: full, backslashes only, no ".", "..",
// doubled separators, trailing dots or spaces, and no trailing backslash.
std::wstring CanonicalFolder(const std::wstring& folder) {
  std::wstring full = folder;
  const DWORD n = folder.empty() ? 0 : GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
  if (n > 0) {
    full.assign(n, L'\0');
    const DWORD got = GetFullPathNameW(folder.c_str(), n, full.data(), nullptr);
    full.resize(got > 0 && got < n ? got : 0);
  }
  while (!full.empty() && full.back() == L'\\') full.pop_back();
  return full;
}

// The running executable's full path, however long.
static std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  while (path.size() < 32768) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
  return std::wstring();
}

static int RunPreview(const std::wstring& previewDir) {
  ULONG_PTR token = StartGdiplus();
  LoadEmbeddedAssets();
  if (InstallerState.version.empty()) InstallerState.version = L"0.0.0";
  InstallerState.installDir = KnownFolderPath(FOLDERID_LocalAppData) + L"\\Programs\\" + kProductName;
  int code = ExportPreviews(previewDir);
  Gdiplus::GdiplusShutdown(token);
  CoUninitialize();
  return code;
}

// Copies the uninstaller out of the folder it is about to delete and starts
// the copy; this process then waits for the copy's verdict. -1 when no copy
// could be started (this process then uninstalls what it can itself).
static int Relocate() {
  wchar_t tempDir[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, tempDir);
  if (n == 0 || n > MAX_PATH) return -1;
  std::wstring tempExe = FormatString(L"%sNorvale-uninstall-%llu.exe", tempDir, GetTickCount64());
  if (!CopyFileW(InstallerState.selfPath.c_str(), tempExe.c_str(), FALSE)) return -1;
  std::wstring line = RelocationCommandLine(tempExe, InstallerState.installDir, InstallerState.silent);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // The copy inherits this run's lock and the verdict channel (and no other
  // handle is inheritable).
  PrepareLockHandOver();
  if (!PrepareVerdictChannel() || !CreateProcessW(tempExe.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                                  nullptr, tempDir, &startup, &process)) {
    DeleteFileW(tempExe.c_str());
    return -1;
  }
  LogLine(L"relocated (this process waits for the copy's verdict), started: " + line);
  CloseHandle(process.hThread);
  // A silent uninstall that gives no verdict within ten minutes has hung; a
  // window waits for its user.
  const int code = AwaitVerdict(process.hProcess, InstallerState.silent ? 600000 : INFINITE);
  CloseHandle(process.hProcess);
  LogFormat(L"result: exit code %d", code);
  return code;
}

static int RunSilent() {
  bool ok = InstallerState.mode == Uninstall ? RunUninstall() : RunInstall();
  if (ok && InstallerState.relaunch && InstallerState.mode != Uninstall)
    LaunchProduct(InstallerState.installDir + L"\\" + kProductExe, InstallerState.installDir, L"");
  return ok ? 0 : 1;
}

static int RunWindow() {
  // A damaged setup file opens on the Error screen, whose "Réessayer" is
  // refused in the same way.
  if (InstallerState.commandLineRefused) {
    InstallerState.screen = Error;
    SetErrorText(kCommandLineRefusedMessage);
  } else if (InstallerState.damagedPackage) {
    InstallerState.screen = Error;
    SetErrorText(kDamagedSetupMessage);
  } else if (!TakeSetupLock(0)) {
    // Another run is changing the product: this window opens on the Error
    // screen, whose "Réessayer" tries the lock again.
    InstallerState.screen = Error;
    SetErrorText(kSetupBusyMessage);
    LogLine(L"the lock is held by another run: the window opens on the Error screen");
  }
  ULONG_PTR token = StartGdiplus();
  LoadEmbeddedAssets();
  int code = RunInstallerWindow(GetModuleHandleW(nullptr));
  DeleteOwned(backdropBitmap);
  DeleteOwned(backBuffer);
  DeleteOwned(logoImage);
  DeleteOwned(brandImage);
  DeleteOwned(displayFamily);
  DeleteOwned(displayMediumFamily);
  DeleteOwned(bodyFamily);
  DeleteOwned(monoFamily);
  DeleteOwned(privateFonts);
  Gdiplus::GdiplusShutdown(token);
  return code;
}

static void ScheduleSelfDeletion() {
  // Both programs by their System32 paths, started from there: a cmd.exe or
  // ping.exe in the temporary folder must never run.
  const std::wstring cmd = SystemToolPath(L"cmd.exe");
  const std::wstring ping = SystemToolPath(L"ping.exe");
  if (cmd.empty()) return;
  const std::wstring system = ParentDirectory(cmd);
  std::wstring line = SelfDeletionCommandLine(cmd, ping, InstallerState.selfPath);
  LogLine(L"self-deletion: " + line);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                     system.c_str(), &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

// A command line that ends inside a double quote: nothing is started,
// locked or created (but the log it asked for before that quote).
static int RunRefused() {
  LogLine(L"command line refused (a double quote is left open): nothing changed");
  const int code = InstallerState.silent ? 1 : RunWindow();
  LogFormat(L"result: exit code %d", code);
  CoUninitialize();
  return code;
}

int RunSetup(const wchar_t* line) {
  MakeDpiAware();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  InstallerState.selfPath = ModulePath();
  ReadSwitchesAndMode(line);

  std::wstring previewDir = SwitchValue(line, L"/apercu=");
  if (!previewDir.empty() && !InstallerState.commandLineRefused) return RunPreview(previewDir);

  ResolveInstallDir(line);
  OpenLog(SwitchValue(line, L"/log="));
  LogRunStart(line);
  if (InstallerState.commandLineRefused) return RunRefused();

  bool fromTemp = HasSwitch(line, L"/fromtemp");
  if (fromTemp) {
    AdoptHandedOverLock();
    AdoptVerdictChannel();
  }
  // The uninstaller relocates only from a folder that holds the product, and
  // only once it holds the lock, which its copy then inherits.
  if (InstallerState.mode == Uninstall && !fromTemp && !InstallerState.damagedPackage &&
      SameTextIgnoringCase(ParentDirectory(InstallerState.selfPath), InstallerState.installDir) &&
      FolderHoldsProduct(InstallerState.installDir) &&
      TakeSetupLock(InstallerState.silent ? kSilentLockWaitMs : 0)) {
    const int code = Relocate();
    if (code >= 0) {
      CoUninitialize();
      return code;
    }
  }

  int code = InstallerState.silent ? RunSilent() : RunWindow();
  if (fromTemp) ScheduleSelfDeletion();
  LogFormat(L"result: exit code %d", code);
  CoUninitialize();
  return code;
}
