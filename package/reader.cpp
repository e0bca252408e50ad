// Finding the package appended to the running executable. Its layout, and
// every rule about it, is in package_format/layout.h; this side supplies the
// file and keeps what the entry point needs: payloadOffset, the version and
// the total size.
#include <cstring>

#include "app/state.h"
#include "package/package.h"
#include "package_format/layout.h"

namespace {

bool ReadFromFile(void* context, uint64_t offset, void* buffer, size_t n) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  const HANDLE file = static_cast<HANDLE>(context);
  for (bool first = true; n > 0; first = false) {
    const DWORD piece = static_cast<DWORD>(n < (1u << 30) ? n : (1u << 30));
    if (!(first ? ReadAt(file, offset, bytes, piece) : ReadExact(file, bytes, piece))) return false;
    bytes += piece;
    n -= piece;
  }
  return true;
}

bool ReadHeader(HANDLE file) {
  const ByteSource source = FileSource(file);
  PackageLayout layout;
  const PackageReason found = FindPackageTrailer(source, &layout);
  if (found == PackageReason::kNoTrailer) return false;
  // A trailer, sound or not, marks a setup file (CarriesUnreadablePackage).
  InstallerState.payloadOffset = layout.offset;
  if (found != PackageReason::kNone || ReadPackageHeader(source, &layout) != PackageReason::kNone)
    return false;
  InstallerState.version.clear();
  for (unsigned char c : layout.version)
    InstallerState.version += static_cast<wchar_t>(c);  // one byte, one unit
  InstallerState.bytesTotal.store(layout.totalSize);
  return true;
}

}  // namespace

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD n) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  return ReadExact(file, buffer, n);
}

bool ReadExact(HANDLE file, void* buffer, DWORD n) {
  DWORD got = 0;
  return ReadFile(file, buffer, n, &got, nullptr) && got == n;
}

ByteSource FileSource(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) size.QuadPart = 0;
  return ByteSource{static_cast<uint64_t>(size.QuadPart), file, ReadFromFile};
}

std::wstring Utf8ToWide(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return wide;
}

uint64_t CertificateEntryOffset(HANDLE file) { return PeCertificateEntryOffset(FileSource(file)); }

uint64_t PackageSearchEnd(HANDLE file, uint64_t size) {
  ByteSource source = FileSource(file);
  source.size = size;
  return SignedContentEnd(source);
}

bool ReadPackageIndex() {
  InstallerState.payloadOffset = 0;  // until a trailer is found (CarriesUnreadablePackage reads it)
  HANDLE file = CreateFileW(InstallerState.selfPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = ReadHeader(file);
  CloseHandle(file);
  return ok;
}
