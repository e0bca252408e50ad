// The one record that every part of the setup program shares. The window
// thread and at most one worker thread use it; the comments on the fields say
// which of them may touch what.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum Mode : int32_t { Install = 0, Update = 1, Uninstall = 2 };
enum Screen : int32_t { Welcome = 0, Progress = 1, Done = 2, Error = 3 };

// One clickable rectangle of the frame last painted, in layout units.
struct HitRegion {
  int32_t id;
  Gdiplus::RectF rect;
};

// What one element of the frame last painted is for a screen reader: a
// text, a push button, a check button or the progress bar.
enum AccessRole : int32_t { TextRole = 0, ButtonRole = 1, CheckRole = 2, ProgressRole = 3 };

// One element of the frame last painted, in reading order: the widget id (0
// for a text), its role, name, rectangle (layout units), whether it is
// ticked or the default button, its Alt letter (0 for none) and, for the
// progress bar, the percent shown.
struct AccessItem {
  int32_t id;
  AccessRole role;
  std::wstring name;
  Gdiplus::RectF rect;
  bool checked;
  bool isDefault;
  wchar_t shortcut;
  int32_t percent;
};

// Which decoder restored a block of the package: the system's Compression
// API, the built-in decoder (where the system has no such API), or the
// built-in decoder after the system's had refused the block.
enum BlockDecoder : uint8_t { DecoderSystem = 0, DecoderBuiltIn = 1, DecoderBuiltInAfterSystem = 2 };

struct InstallerState {
  Mode mode = Install;
  Screen screen = Welcome;
  bool silent = false;
  bool relaunch = false;
  bool createDesktopShortcut = true;
  bool launchAtEnd = true;
  bool removeUserData = false;
  std::wstring selfPath;
  std::wstring installDir;  // no trailing backslash once resolved
  std::wstring version;
  uint64_t payloadOffset = 0;
  // Where the package stores the uninstaller's signature (file offset and
  // size of the section), found by the extraction; size 0 when it has none.
  uint64_t uninstallerSignatureOffset = 0;
  uint64_t uninstallerSignatureSize = 0;
  // The file is a setup file whose package is damaged or missing: it must
  // neither install nor run as an uninstaller.
  bool damagedPackage = false;
  // The command line ends inside a double quote: what it asks cannot be
  // known, so the run changes nothing, on every try.
  bool commandLineRefused = false;
  std::atomic<uint64_t> bytesDone{0};
  std::atomic<uint64_t> bytesTotal{0};
  // Per block of the last extraction, in order (for the log); the extracting thread's.
  std::vector<BlockDecoder> blockDecoders;
  std::mutex statusMutex;  // guards statusText and errorText, never held while calling out
  std::wstring statusText;
  std::wstring errorText;
  HWND window = nullptr;
  float uiScale = 1.0f;
  int32_t hoverId = 0;
  int32_t pressedId = 0;
  std::vector<HitRegion> hitRegions;
  std::vector<AccessItem> accessItems;  // refilled with hitRegions by every frame
  int32_t focusId = 0;                  // widget with the keyboard focus, 0 for none
  bool keyboardUsed = false;            // the focus ring shows once the keyboard has been used
  bool altHeld = false;                 // Alt letters are underlined while Alt is down
  bool highContrast = false;            // the system's high-contrast setting, window thread
  uint64_t finishTick = 0;
  std::thread worker;
};

// The instance carries the type's name: code reads `InstallerState.installDir`.
extern struct InstallerState InstallerState;

// Replaces statusText under statusMutex; the only way sequences report their step.
void SetStatus(const std::wstring& text);

// Assigns errorText under statusMutex (the failure messages of the sequences).
void SetErrorText(const std::wstring& text);

// Product constants shared by the subsystems.
inline constexpr wchar_t kProductName[] = L"Norvale Lockra";
inline constexpr wchar_t kProductExe[] = L"Norvale-Lockra.exe";
inline constexpr wchar_t kUninstallerName[] = L"uninstall.exe";
inline constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Norvale Lockra";
