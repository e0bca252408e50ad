// The integrity section against the block list it must describe. Input:
// a flags byte (bit 0: make the section's own checksum match, so that the
// checks behind it are reached), the block count (low four bits of the
// next byte), 8 bytes of sizes per block (raw, compressed), then the
// section's bytes, after the uninstaller's signature section when they
// start with its magic (its declared size says where the integrity section
// begins).
//
// Beyond not crashing: a section that reads as sound must encode back to
// its own bytes when it is of a version written now, and keep the signature
// section's bytes as they were.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/checksum.h"
#include "package_format/integrity.h"
#include "package_format/little_endian.h"
#include "package_format/uninstaller_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool fixSum = data[0] & 1;
  const size_t count = data[1] & 15;
  if (size < 2 + 8 * count) return 0;
  std::vector<PackageBlock> blocks;
  for (size_t b = 0; b < count; ++b) {
    const uint8_t* p = data + 2 + 8 * b;
    blocks.push_back(
        PackageBlock{static_cast<uint32_t>(GetLe(p, 4)), static_cast<uint32_t>(GetLe(p + 4, 4)), 0});
  }
  std::vector<uint8_t> section(data + 2 + 8 * count, data + size);
  if (fixSum && section.size() >= 16) {
    const uint64_t sum = Xxh64(section.data(), section.size() - 8);
    for (int i = 0; i < 8; ++i) section[section.size() - 8 + i] = static_cast<uint8_t>(sum >> (8 * i));
  }
  size_t start = 0;
  if (section.size() >= 16 && memcmp(section.data(), kUninstallerSignatureMagic, 8) == 0) {
    const uint64_t declared = kUninstallerSignatureHeadSize + GetLe(section.data() + 12, 4);
    start = static_cast<size_t>(declared < section.size() ? declared : section.size());
  }
  PackageIntegrity integrity;
  size_t badBlock = 0;
  if (ParseIntegritySection(section.data(), section.size(), blocks, &integrity, &badBlock, start) !=
      PackageReason::kNone)
    return 0;
  if (integrity.signature.size() != start ||
      (start > 0 && memcmp(integrity.signature.data(), section.data(), start) != 0))
    abort();
  if (!integrity.present || integrity.blocks.size() != count) abort();
  if (!integrity.level) return 0;  // version 1: not written any more
  const std::vector<uint8_t> again = EncodeIntegritySection(
      integrity.headSum, integrity.blocks, integrity.streamSha256, *integrity.level, integrity.signature);
  if (!std::equal(again.begin(), again.end(), section.begin() + start, section.end()) ||
      again.size() != section.size() - start)
    abort();
  return 0;
}
