#include <vector>

#include "app/helpers.h"
#include "app/state.h"
#include "package/package.h"
#include "package/transaction.h"

// "uninstall.exe" is the running executable cut where its package begins.
// The signature lies beyond the cut, so the certificate-table entry that
// points to it is cleared; every other byte is copied unchanged.
bool WriteUninstaller(const InstallTransaction* transaction) {
  HANDLE self = CreateFileW(InstallerState.selfPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (self == INVALID_HANDLE_VALUE) return false;
  const std::wstring path = InstallerState.installDir + L"\\" + kUninstallerName;
  HANDLE out = MoveAsideBeforeWrite(transaction, path) ? CreateOutputFile(path) : INVALID_HANDLE_VALUE;
  bool ok = out != INVALID_HANDLE_VALUE;

  std::vector<uint8_t> buffer;
  if (ok) buffer.resize(0x100000);
  for (uint64_t left = InstallerState.payloadOffset; ok && left > 0;) {
    const DWORD n = static_cast<DWORD>(left < buffer.size() ? left : buffer.size());
    DWORD got = 0, put = 0;
    ok = ReadFile(self, buffer.data(), n, &got, nullptr) && got == n &&
         WriteFile(out, buffer.data(), n, &put, nullptr) && put == n;
    left -= n;
  }

  if (ok) {
    const uint64_t entry = CertificateEntryOffset(self);
    if (entry != 0 && entry + 8 <= InstallerState.payloadOffset) {
      const uint8_t zeros[8] = {};
      LARGE_INTEGER at{};
      at.QuadPart = static_cast<LONGLONG>(entry);
      DWORD put = 0;
      ok = SetFilePointerEx(out, at, nullptr, FILE_BEGIN) && WriteFile(out, zeros, 8, &put, nullptr) &&
           put == 8;
    }
  }

  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  CloseHandle(self);
  return ok;
}
