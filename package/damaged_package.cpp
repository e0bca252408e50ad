// Telling a damaged setup file from an uninstaller. ReadPackageIndex calls a
// file package-less when it finds no trailer, or a trailer whose header it
// cannot read; an uninstaller (a setup file cut where its package began) is
// such a file, and it removes the folder it lies in. A setup file damaged in
// those few bytes must not become one: started from a downloads folder, it
// would delete that folder. Such a file still shows where its package was:
// a trailer was found, or bytes follow the image (its sections, then the
// symbol and string tables a linker may leave) before the signed content's
// end.
#include <cstring>
#include <vector>

#include "app/state.h"
#include "package/package.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

// Where the image ends: the furthest section data, symbol table or string
// table. 0 when the file is not a PE image.
uint64_t ImageEnd(HANDLE file) {
  uint8_t dos[64];
  if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
  const uint32_t pe = Le32(dos + 60);
  uint8_t header[24];
  if (pe == 0 || pe > 0x10000000 || !ReadAt(file, pe, header, sizeof header) ||
      memcmp(header, "PE\0\0", 4) != 0)
    return 0;
  const uint16_t sections = static_cast<uint16_t>(header[6] | header[7] << 8);
  const uint16_t optional = static_cast<uint16_t>(header[20] | header[21] << 8);
  uint64_t end = 0;
  std::vector<uint8_t> table(40 * static_cast<size_t>(sections));
  if (!table.empty() &&
      !ReadAt(file, pe + 24 + uint64_t{optional}, table.data(), static_cast<DWORD>(table.size())))
    return 0;
  for (uint16_t s = 0; s < sections; ++s) {
    const uint64_t rawEnd = uint64_t{Le32(&table[40 * s + 20])} + Le32(&table[40 * s + 16]);
    if (rawEnd > end) end = rawEnd;
  }
  const uint32_t symbols = Le32(header + 12), count = Le32(header + 16);
  uint8_t strings[4];
  if (symbols != 0) {
    const uint64_t stringTable = symbols + 18 * uint64_t{count};
    const uint64_t tablesEnd =
        ReadAt(file, stringTable, strings, 4) ? stringTable + Le32(strings) : stringTable;
    if (tablesEnd > end) end = tablesEnd;
  }
  return end;
}

}  // namespace

bool CarriesUnreadablePackage() {
  if (InstallerState.payloadOffset != 0) return true;  // a trailer, before a header that did not read
  HANDLE file = CreateFileW(InstallerState.selfPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool damaged = false;
  if (GetFileSizeEx(file, &size)) {
    const uint64_t imageEnd = ImageEnd(file);
    const uint64_t contentEnd = PackageSearchEnd(file, static_cast<uint64_t>(size.QuadPart));
    // Up to 7 bytes may pad the image to a certificate table's alignment.
    damaged = imageEnd != 0 && contentEnd > imageEnd + 7;
  }
  CloseHandle(file);
  return damaged;
}
