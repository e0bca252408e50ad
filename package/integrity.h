// The checksums of the package's integrity section (its format and reader
// are in package_format/integrity.h) as the extraction applies them to each
// block. A package without the section is read as before, with nothing to
// check.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/checksum.h"
#include "package_format/layout.h"

using BlockSums = PackageBlockSums;

// True when there are no sums, or when both bytes match theirs.
inline bool BlockMatchesSums(const BlockSums* sums, const uint8_t* packed, size_t packedSize,
                             const uint8_t* raw, size_t rawSize) {
  return !sums || (Xxh64(raw, rawSize) == sums->sum && Xxh64(packed, packedSize) == sums->packedSum);
}

// The checksums that block b must match, or null when there are none.
inline const BlockSums* ExpectedBlockSums(const PackageIntegrity& integrity, uint32_t b) {
  return integrity.present && b < integrity.blocks.size() ? &integrity.blocks[b] : nullptr;
}
