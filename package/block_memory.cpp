#include "package/block_memory.h"

#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace {

// Smaller buffers are not worth a thread.
constexpr size_t kTouchOnTwoThreads = 4 << 20;

}  // namespace

bool ReserveBlockBuffer(BlockBuffer* b, size_t size) {
  if (size <= b->capacity) return true;
  b->bytes.reset();
  b->capacity = 0;
  uint8_t* p = new (std::nothrow) uint8_t[size];
  if (!p) return false;
  b->bytes.reset(p);
  b->capacity = size;
  size_t half = 0;
  std::thread other;
  if (size >= kTouchOnTwoThreads) {
    half = size / 2;
    try {
      other = std::thread([p, half, size] { memset(p + half, 0, size - half); });
    } catch (const std::system_error&) {
      half = size;
    }
  }
  memset(p, 0, other.joinable() ? half : size);
  if (other.joinable()) other.join();
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
