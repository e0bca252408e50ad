// Where the package's bytes come from. The format code reads only through
// this: the setup program supplies its own file through Win32, the packer a
// file of the maker's machine, the tests and fuzz targets memory. `size` is
// the real size of what can be read, so every length the package claims is
// bounded by it before anything is allocated or walked.
#pragma once

#include <cstddef>
#include <cstdint>

struct ByteSource {
  uint64_t size = 0;
  void* context = nullptr;
  // Exactly n bytes at offset (within size); false when they cannot be read.
  bool (*read)(void* context, uint64_t offset, void* buffer, size_t n) = nullptr;
};

// n bytes at offset, refused without a read when they lie beyond the size.
inline bool ReadSource(const ByteSource& source, uint64_t offset, void* buffer, uint64_t n) {
  if (offset > source.size || n > source.size - offset) return false;
  return n == 0 || source.read(source.context, offset, buffer, static_cast<size_t>(n));
}

// Bytes in memory (they must outlive the source).
ByteSource MemorySource(const uint8_t* data, size_t size);
