#include "package/block_memory.h"

#include <cstring>
#include <new>
#include <system_error>

namespace {

// Smaller buffers are not worth a thread: the decoder takes their faults.
constexpr size_t kTouchFrom = 4 << 20;
constexpr size_t kPage = 4096;
// The toucher publishes its progress in steps of this size.
constexpr size_t kTouchStep = 256 * 1024;

// Reads one byte of every page of the compressed block, from both ends (the
// decoder reads it from both ends too), so that the decoder finds it mapped.
uint8_t ReadPages(const uint8_t* p, size_t size) {
  uint8_t sum = 0;
  for (size_t front = 0, back = size; front < back;) {
    for (size_t end = front + kTouchStep; front < end && front < back; front += kPage) sum += p[front];
    for (size_t end = back > kTouchStep ? back - kTouchStep : 0; back > end && back > front; back -= kPage)
      sum += p[back - 1];
  }
  return sum;
}

void TouchPages(PageToucher* t, uint8_t* p, bool fresh, const uint8_t* input, size_t inputSize) {
  size_t at = 0;
  const auto touchStep = [&] {
    const size_t n = t->size - at < kTouchStep ? t->size - at : kTouchStep;
    // One write a page takes the fault; the decoder writes every byte later.
    for (size_t i = 0; i < n; i += kPage) p[at + i] = 0;
    at += n;
    t->touched.store(at, std::memory_order_release);
  };
  if (!fresh) {
    t->touched.store(t->size, std::memory_order_release);
    at = t->size;
  } else {
    touchStep();  // the decoder's first writes go there
  }
  if (input) t->inputSum = ReadPages(input, inputSize);
  while (at < t->size) touchStep();
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

void StartPageToucher(PageToucher* t, uint8_t* p, size_t size, bool fresh, const uint8_t* input,
                      size_t inputSize) {
  t->size = size;
  t->touched.store(0, std::memory_order_relaxed);
  fresh = fresh && size >= kTouchFrom;
  if (inputSize < kTouchFrom) input = nullptr;
  if (fresh || input) {
    try {
      t->thread = std::thread(TouchPages, t, p, fresh, input, inputSize);
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
