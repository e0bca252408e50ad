// Finding the package appended to the running executable. Layout of a setup
// file: the image, the package at offset P, a 24-byte trailer
// {P, package length, "HLVXPAK1"} at P + length, then, when signed, 0-7 zero
// bytes and the certificate table that the PE header's security entry points
// to. The header at P is "HLVX", format 1, version length L < 64, L ASCII
// bytes of version, the 64-bit total of the entry sizes. All integers
// little-endian.
#include <cstring>

#include "app/state.h"
#include "package/package.h"

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

std::wstring Utf8ToWide(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return wide;
}

uint64_t CertificateEntryOffset(HANDLE file) {
  unsigned char dos[64];
  if (!ReadAt(file, 0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z') return 0;
  int32_t peOffset;
  memcpy(&peOffset, dos + 60, 4);
  if (peOffset <= 0) return 0;
  uint32_t signature;
  if (!ReadAt(file, static_cast<uint64_t>(peOffset), &signature, 4) || signature != 0x00004550) return 0;
  unsigned char fileHeader[20];
  uint16_t magic;
  if (!ReadExact(file, fileHeader, sizeof(fileHeader)) || !ReadExact(file, &magic, 2)) return 0;
  uint64_t directories = static_cast<uint64_t>(peOffset) + 24 + (magic == 0x20B ? 112 : 96);
  return directories + 32;
}

uint64_t PackageSearchEnd(HANDLE file, uint64_t size) {
  uint64_t entry = CertificateEntryOffset(file);
  if (entry == 0) return size;
  uint32_t table[2];
  if (!ReadAt(file, entry, table, sizeof(table)) || table[0] == 0 || table[1] == 0) return size;
  uint64_t start = table[0];
  if (start + table[1] == size && start < size) return start;
  return size;
}

static bool ReadHeader(HANDLE file) {
  unsigned char trailer[24];
  LARGE_INTEGER fileSize;
  if (!GetFileSizeEx(file, &fileSize) || fileSize.QuadPart <= 24) return false;
  uint64_t end = PackageSearchEnd(file, static_cast<uint64_t>(fileSize.QuadPart));
  bool found = false;
  uint64_t trailerOffset = 0;
  for (uint64_t i = 0; i < 8 && !found && end >= i + 24; ++i) {
    trailerOffset = end - i - 24;
    found = ReadAt(file, trailerOffset, trailer, 24) && memcmp(trailer + 16, "HLVXPAK1", 8) == 0;
  }
  if (!found) return false;
  uint64_t offset, packageLength;
  memcpy(&offset, trailer, 8);
  memcpy(&packageLength, trailer + 8, 8);
  InstallerState.payloadOffset = offset;
  // The length covers exactly the bytes from the header to the trailer, as
  // norvale-pack verify requires: a shorter one would leave the integrity
  // section, which ends at the trailer, unread (a one-byte change that turns
  // the checks off). Such a file is a damaged setup file, not an uninstaller.
  if (offset > trailerOffset || packageLength != trailerOffset - offset) return false;

  char magic[4];
  uint32_t format, length;
  unsigned char version[64];
  uint64_t total;
  if (!ReadAt(file, offset, magic, 4) || memcmp(magic, "HLVX", 4) != 0) return false;
  if (!ReadExact(file, &format, 4) || format != 1) return false;
  if (!ReadExact(file, &length, 4) || length >= 64) return false;
  if (!ReadExact(file, version, length) || !ReadExact(file, &total, 8)) return false;
  InstallerState.version.assign(version, version + length);  // one byte, one UTF-16 unit
  InstallerState.bytesTotal.store(total);
  return true;
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
