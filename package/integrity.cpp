// Reading the integrity section. Layout (little-endian, B blocks):
// "HLVXSUMS", version 2 (4), block count B (4), XXH64 of the head (8: header,
// entry table and block count), B times {raw size (4), compressed size (4),
// XXH64 of the compressed bytes (8), XXH64 of the raw bytes (8)}, SHA-256 of
// the content stream (32, not checked here), the packer settings (8: the
// level, 0 or 1, then seven zero bytes; the level is not needed here, any
// level decodes alike, but another value is damage), XXH64 of all the
// section's bytes before it (8). 72 + 24*B bytes, ending at the trailer.
// Version 1, from earlier packers, lacks the settings: 64 + 24*B bytes.
#include "package/integrity.h"

#include <cstring>

#include "codec/checksum.h"
#include "package/package.h"

namespace {

constexpr char kSectionMagic[] = "HLVXSUMS";

uint64_t Get(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  return value;
}

// XXH64 of n bytes at offset, read in pieces.
bool SumRange(HANDLE file, uint64_t offset, uint64_t n, uint64_t* sum) {
  Xxh64State state;
  Xxh64Begin(&state);
  uint8_t buffer[65536];
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
  while (n > 0) {
    const DWORD piece = static_cast<DWORD>(n < sizeof buffer ? n : sizeof buffer);
    if (!ReadExact(file, buffer, piece)) return false;
    Xxh64Update(&state, buffer, piece);
    n -= piece;
  }
  *sum = Xxh64End(&state);
  return true;
}

// The section's verdict; the file position is restored by the caller.
bool CheckSection(HANDLE file, uint64_t headStart, uint64_t headEnd, uint32_t blockCount, uint64_t packageEnd,
                  PackageIntegrity* integrity) {
  std::vector<uint32_t> sizes;  // raw, compressed, for every block
  uint64_t at = headEnd;
  for (uint32_t b = 0; b < blockCount; ++b) {
    uint32_t header[2];
    if (packageEnd - at < 8 || !ReadAt(file, at, header, 8)) return true;
    at += 8;
    if (header[1] > packageEnd - at) return true;
    at += header[1];
    sizes.insert(sizes.end(), header, header + 2);
  }
  if (at == packageEnd) return true;  // no section
  // The size tells the version apart before anything is read; the version
  // field must then agree with it.
  const uint64_t settingsLess = 64 + 24 * static_cast<uint64_t>(blockCount);
  const uint64_t size = packageEnd - at;
  if (size != settingsLess && size != settingsLess + 8) return false;
  const uint32_t version = size == settingsLess ? 1 : 2;
  std::vector<uint8_t> section(static_cast<size_t>(size));
  if (!ReadAt(file, at, section.data(), static_cast<DWORD>(section.size()))) return false;
  const size_t end = section.size() - 8;
  if (memcmp(section.data(), kSectionMagic, 8) != 0 || Get(&section[8], 4) != version ||
      Get(&section[12], 4) != blockCount || Xxh64(section.data(), end) != Get(&section[end], 8))
    return false;
  if (version == 2 && Get(&section[end - 8], 8) > 1) return false;  // a level above max, or other settings
  for (uint32_t b = 0; b < blockCount; ++b) {
    const uint8_t* entry = &section[24 + 24 * static_cast<size_t>(b)];
    if (Get(entry, 4) != sizes[2 * b] || Get(entry + 4, 4) != sizes[2 * b + 1]) return false;
    integrity->blocks.push_back(BlockSums{Get(entry + 8, 8), Get(entry + 16, 8)});
  }
  uint64_t headSum = 0;
  if (!SumRange(file, headStart, headEnd - headStart, &headSum) || headSum != Get(&section[16], 8))
    return false;
  integrity->present = true;
  return true;
}

}  // namespace

bool ReadPackageIntegrity(HANDLE file, uint64_t headStart, uint32_t blockCount, uint64_t packageEnd,
                          PackageIntegrity* integrity) {
  *integrity = PackageIntegrity{};
  LARGE_INTEGER zero{}, here{};
  if (!SetFilePointerEx(file, zero, &here, FILE_CURRENT)) return false;
  const uint64_t headEnd = static_cast<uint64_t>(here.QuadPart);
  const bool sound =
      headEnd <= packageEnd && CheckSection(file, headStart, headEnd, blockCount, packageEnd, integrity);
  if (!sound) *integrity = PackageIntegrity{};
  return SetFilePointerEx(file, here, nullptr, FILE_BEGIN) && sound;
}
