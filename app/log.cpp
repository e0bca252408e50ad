#include "app/log.h"

#include <cstdarg>
#include <cwchar>
#include <mutex>
#include <string>

#include "app/helpers.h"
#include "app/state.h"

namespace {

// Set once, before any worker starts; read by every thread afterwards.
std::wstring logPath;
// Keeps the lines of the window thread, the worker and the file writer whole.
std::mutex logMutex;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
  return out;
}

// The file is opened for each line and closed again: no handle stays open on
// a file that an uninstall may be deleting, and another copy of the program
// (the relocated uninstaller) can append between two lines. A file that
// starts with "MZ" is a program (this one, uninstall.exe, the product): a
// log is never appended to one.
bool AppendToLog(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char start[2] = {};
  DWORD read = 0;
  if (!ReadFile(file, start, 2, &read, nullptr) || (read == 2 && start[0] == 'M' && start[1] == 'Z')) {
    CloseHandle(file);
    return false;
  }
  DWORD written = 0;
  const bool ok =
      bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                        written == bytes.size());
  FlushFileBuffers(file);
  CloseHandle(file);
  return ok;
}

const wchar_t* ModeName(Mode mode) {
  switch (mode) {
    case Install:
      return L"install";
    case Update:
      return L"update";
    case Uninstall:
      return L"uninstall";
  }
  return L"?";
}

}  // namespace

void OpenLog(const std::wstring& path) {
  if (path.empty()) return;
  // A relocated uninstaller runs from the temporary folder: it must find the
  // same file as the copy that started it.
  wchar_t full[1024];
  const DWORD n = GetFullPathNameW(path.c_str(), 1024, full, nullptr);
  if (n == 0 || n >= 1024) return;
  // A folder, a missing folder or a file that refuses writing: no log.
  if (AppendToLog(full, std::string())) logPath.assign(full, n);
}

bool LogEnabled() { return !logPath.empty(); }

void LogLine(const std::wstring& text) {
  if (logPath.empty()) return;
  const DWORD error = GetLastError();  // logging leaves the caller's last error alone
  SYSTEMTIME t;
  GetLocalTime(&t);
  const std::wstring line =
      FormatString(L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", t.wYear, t.wMonth, t.wDay, t.wHour,
                   t.wMinute, t.wSecond, t.wMilliseconds, GetCurrentProcessId()) +
      text + L"\r\n";
  std::lock_guard<std::mutex> lock(logMutex);
  AppendToLog(logPath, Utf8(line));
  SetLastError(error);
}

void LogFormat(const wchar_t* format, ...) {
  if (logPath.empty()) return;
  wchar_t buffer[2048];
  va_list args;
  va_start(args, format);
  const int n = _vsnwprintf_s(buffer, 2048, _TRUNCATE, format, args);
  va_end(args);
  if (n < 0 && buffer[0] == L'\0') return;
  LogLine(buffer);
}

std::wstring LogSwitch() { return logPath.empty() ? std::wstring() : L" /log=\"" + logPath + L"\""; }

void LogRunStart(const wchar_t* commandLine) {
  LogFormat(L"Norvale Lockra Setup %ls: %ls, %ls, folder %ls", InstallerState.version.c_str(),
            ModeName(InstallerState.mode), InstallerState.silent ? L"silent" : L"window",
            InstallerState.installDir.c_str());
  LogLine(std::wstring(L"command line: ") + commandLine);
}

void LogFailure(const wchar_t* what, const std::wstring& path) {
  const DWORD error = GetLastError();
  LogFormat(L"%ls %ls (Win32 error %lu)", what, path.c_str(), error);
}

void LogResult(const std::wstring& what, DWORD error) {
  if (error == 0)
    LogLine(what);
  else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
    LogLine(what + L": nothing there");
  else
    LogFormat(L"%ls: failed (Win32 error %lu)", what.c_str(), error);
}

void LogRegistryWrite(const std::wstring& subKey, const std::wstring& name, const std::wstring& value,
                      LONG error) {
  LogResult(L"registry: set HKCU\\" + subKey + L"\\" + name + L" = " + value, static_cast<DWORD>(error));
}

void LogFolderRemoval(const std::wstring& folder, bool attempted) {
  if (!attempted)
    LogLine(L"folder left alone (too broad to delete): " + folder);
  else
    LogLine((FileExists(folder) ? L"folder partly removed, some files remain: " : L"folder removed: ") +
            folder);
}

void LogExtractionResult(bool ok) {
  if (!LogEnabled()) return;
  std::wstring error;
  {
    std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
    error = InstallerState.errorText;
  }
  // Which decoder served each block: a refusal by the system's one shows
  // here even when the built-in decoder then made the install succeed.
  static const wchar_t* const kDecoderNames[] = {L"system", L"built-in",
                                                 L"built-in after the system's refused"};
  const std::vector<BlockDecoder>& decoders = InstallerState.blockDecoders;
  for (size_t b = 0; b < decoders.size(); ++b)
    LogFormat(L"extraction: block %zu of %zu decoded by the %ls decoder", b + 1, decoders.size(),
              kDecoderNames[decoders[b] <= DecoderBuiltInAfterSystem ? decoders[b] : 1]);
  LogLine(ok ? std::wstring(L"extraction: done") : L"extraction: failed: " + error);
}

void LogProgramEnd(const std::wstring& commandLine, HANDLE process, DWORD waitResult) {
  DWORD code = 0;
  if (waitResult == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code))
    LogFormat(L"%ls: exit code %lu", commandLine.c_str(), code);
  else
    LogFormat(L"%ls: still running when the wait ended", commandLine.c_str());
}
