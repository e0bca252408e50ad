// The package's integrity section (its format is described beside the
// packer's writer, tools/pack_integrity.cpp): XXH64 checksums of the
// package's head and of each block's raw bytes, between the last block and
// the trailer. A package without it (an older one, or one made by another
// tool) is read as before, with nothing to check.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "codec/checksum.h"

// What one block must hash to (XXH64).
struct BlockSums {
  uint64_t packed = 0;  // its compressed bytes
  uint64_t raw = 0;     // its raw bytes, the files' contents
};

struct PackageIntegrity {
  bool present = false;
  std::vector<BlockSums> blocks;
};

// Called with the file positioned just after the block count (the end of the
// package's head, which starts at headStart); leaves it there. Walks the
// block headers to the bytes after the last block: none means no section,
// anything else must be a sound section that agrees with the blocks and the
// head. False when the package is damaged. Headers that claim bytes beyond
// packageEnd are left to the block loop, which refuses them on its own.
bool ReadPackageIntegrity(HANDLE file, uint64_t headStart, uint32_t blockCount, uint64_t packageEnd,
                          PackageIntegrity* integrity);

// True when there are no sums, or when both bytes match theirs.
inline bool BlockMatchesSums(const BlockSums* sums, const uint8_t* packed, size_t packedSize,
                             const uint8_t* raw, size_t rawSize) {
  return !sums || (Xxh64(raw, rawSize) == sums->raw && Xxh64(packed, packedSize) == sums->packed);
}

// The checksums that block b must match, or null when there are none.
inline const BlockSums* ExpectedBlockSums(const PackageIntegrity& integrity, uint32_t b) {
  return integrity.present && b < integrity.blocks.size() ? &integrity.blocks[b] : nullptr;
}
