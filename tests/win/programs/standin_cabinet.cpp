// A stand-in for the system's cabinet.dll with the Compression API's three
// decompressor entry points (Wine's own cabinet.dll has none), put in
// System32 by the tests so that the setup program's system path runs. It
// decodes with the portable decoder, or misbehaves the way a system's
// decompressor might, as NORVALE_CABINET_MODE says:
//   decode     restores every block (the default)
//   refuse     every Decompress call fails
//   alternate  every second call fails, the first one included
//   short      success, with one byte less than asked for
//   wrong      success, all bytes, one of them changed
// Every call appends a line to the file that NORVALE_CABINET_LOG names.
#include <windows.h>

#include <cstring>

#include "codec/lzms.h"

namespace {

LONG calls = 0;
int handleTarget = 0;

void Log(const char* line) {
  wchar_t path[MAX_PATH];
  if (GetEnvironmentVariableW(L"NORVALE_CABINET_LOG", path, MAX_PATH) == 0) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

bool Mode(const char* name) {
  char mode[32];
  const DWORD n = GetEnvironmentVariableA("NORVALE_CABINET_MODE", mode, sizeof mode);
  if (n == 0 || n >= sizeof mode) return strcmp(name, "decode") == 0;
  return strcmp(mode, name) == 0;
}

}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI CreateDecompressor(DWORD algorithm, void* routines, void** handle) {
  Log("create");
  if (algorithm != 5 /* LZMS */ || routines != nullptr || !handle) return FALSE;
  *handle = &handleTarget;
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI
    Decompress(void* handle, const void* in, SIZE_T inSize, void* out, SIZE_T outSize, SIZE_T* done) {
  const LONG call = InterlockedIncrement(&calls);
  if (handle != &handleTarget || !done) return FALSE;
  *done = 0;
  if (Mode("refuse") || (Mode("alternate") && call % 2 == 1)) {
    Log("decompress refused");
    return FALSE;
  }
  size_t actual = 0;
  if (!LzmsBufferedDecompress(static_cast<const uint8_t*>(in), inSize, static_cast<uint8_t*>(out), outSize,
                              &actual)) {
    Log("decompress failed");
    return FALSE;
  }
  *done = actual;
  if (Mode("short") && actual > 0) {
    *done = actual - 1;
    Log("decompress short");
  } else if (Mode("wrong") && actual > 0) {
    static_cast<uint8_t*>(out)[actual / 2] ^= 0x01;
    Log("decompress wrong");
  } else {
    Log("decompress decoded");
  }
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI CloseDecompressor(void* handle) {
  Log("close");
  return handle == &handleTarget;
}
}
