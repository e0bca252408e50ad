// Where a block's bytes live during extraction: its compressed bytes seen
// through a view of the setup file, its decoded bytes in a buffer that grows.
//
// Fresh memory faults in page by page at its first touch, which is slow on
// some machines (virtual ones above all, up to a tenth of a second for one
// block); file pages already cached come in many at a time. Hence the view,
// which also saves copying the compressed bytes, and a new buffer taken in on
// two threads at once.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

struct BlockBuffer {
  std::unique_ptr<uint8_t[]> bytes;
  size_t capacity = 0;
};

// Makes room for size bytes; false when the memory cannot be had.
bool ReserveBlockBuffer(BlockBuffer* b, size_t size);

// A view of size bytes at offset of the mapped file: the view to unmap, with
// *bytes at the offset; null when it cannot be mapped.
void* MapBlockView(HANDLE mapping, uint64_t offset, size_t size, const uint8_t** bytes);
