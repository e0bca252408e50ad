#include "package/block_memory.h"

#include <cstring>
#include <new>
#include <system_error>

namespace {

// Smaller buffers are not worth a thread: the decoder takes their faults.
constexpr size_t kTouchFrom = 4 << 20;
// The toucher publishes its progress in steps of this size.
constexpr size_t kTouchStep = 256 * 1024;

void TouchPages(PageToucher* t, uint8_t* p) {
  for (size_t at = 0; at < t->size;) {
    const size_t n = t->size - at < kTouchStep ? t->size - at : kTouchStep;
    memset(p + at, 0, n);
    at += n;
    t->touched.store(at, std::memory_order_release);
  }
}

}  // namespace

bool ReserveBlockBuffer(BlockBuffer* b, size_t size, bool* grown) {
  *grown = size > b->capacity;
  if (!*grown) return true;
  b->bytes.reset();
  b->capacity = 0;
  b->bytes.reset(new (std::nothrow) uint8_t[size]);
  if (!b->bytes) return false;
  b->capacity = size;
  return true;
}

void* MapBlockView(HANDLE mapping, uint64_t offset, size_t size, const uint8_t** bytes) {
  if (size == 0) return nullptr;  // a view of 0 bytes would reach the end of the file
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const uint64_t start = offset - offset % info.dwAllocationGranularity;
  const size_t lead = static_cast<size_t>(offset - start);
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(start >> 32),
                             static_cast<DWORD>(start), lead + size);
  if (view) *bytes = static_cast<const uint8_t*>(view) + lead;
  return view;
}

void StartPageToucher(PageToucher* t, uint8_t* p, size_t size, bool fresh) {
  t->size = size;
  t->touched.store(0, std::memory_order_relaxed);
  if (fresh && size >= kTouchFrom) {
    try {
      t->thread = std::thread(TouchPages, t, p);
      return;
    } catch (const std::system_error&) {
      // The decoder takes the faults.
    }
  }
  t->touched.store(size, std::memory_order_release);
}

size_t WaitForPages(PageToucher* t, size_t need) {
  if (need > t->size) need = t->size;
  size_t touched;
  // The toucher is several times faster than any decoder: waits are short
  // and happen at the start of a block.
  while ((touched = t->touched.load(std::memory_order_acquire)) < need) std::this_thread::yield();
  return touched;
}

void StopPageToucher(PageToucher* t) {
  if (t->thread.joinable()) t->thread.join();
  t->touched.store(t->size, std::memory_order_release);
}
