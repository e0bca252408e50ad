// Where a block's bytes live during extraction: its compressed bytes seen
// through a view of the setup file, its decoded bytes in a buffer that grows.
//
// Fresh memory faults in page by page at its first touch, which is slow on
// some machines (virtual ones above all: a tenth of a second for a 32 MiB
// buffer, and reading a file into untouched memory is slower still under
// Wine); file pages already cached come in many at a time. Hence the view,
// which also saves copying the compressed bytes, and a new output buffer
// taken in by a thread of its own just ahead of the decoder, which waits
// for it only where it would overtake it; that thread also reads the view's
// pages in, so that the decoder does not wait for them.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

struct BlockBuffer {
  std::unique_ptr<uint8_t[]> bytes;
  size_t capacity = 0;
};

// Makes room for size bytes; *grown when that took new, untouched memory.
// False when the memory cannot be had.
bool ReserveBlockBuffer(BlockBuffer* b, size_t size, bool* grown);

// A view of size bytes at offset of the mapped file: the view to unmap, with
// *bytes at the offset; null when it cannot be mapped.
void* MapBlockView(HANDLE mapping, uint64_t offset, size_t size, const uint8_t** bytes);

struct PageToucher {
  std::thread thread;
  std::atomic<size_t> touched{0};  // p[0, touched) are in and may be written
  size_t size = 0;
  uint8_t inputSum = 0;  // what reading the input's pages summed to (kept, so they are read)
};

// Starts touching new (fresh) memory p[0, size) in, zeroing it from the
// front, and reading in the pages of a mapped compressed block (input, when
// given) after the first step; small ones are left to the decoder. Without
// anything to touch, or without a thread, p is all marked as touched.
// StopPageToucher must follow.
void StartPageToucher(PageToucher* t, uint8_t* p, size_t size, bool fresh, const uint8_t* input,
                      size_t inputSize);

// Waits until p[0, need) are in; how far the touched part reaches then.
size_t WaitForPages(PageToucher* t, size_t need);

// Waits for the whole buffer and joins the thread.
void StopPageToucher(PageToucher* t);
