// Large arrays of the LZMS encoder's match finder.
//
// The binary tree is walked in an order that has nothing to do with memory
// (every step jumps to an older position), so with ordinary 4 KiB pages almost
// every step also misses the TLB. Where the system offers transparent huge
// pages on request, the arrays are aligned to 2 MiB and asked to use them;
// elsewhere they are plain allocations. Contents start undefined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace lzms {

template <typename T>
class LargeArray {
 public:
  LargeArray() = default;
  explicit LargeArray(size_t count) { Reserve(count); }
  ~LargeArray() { std::free(p_); }
  LargeArray(const LargeArray&) = delete;
  LargeArray& operator=(const LargeArray&) = delete;

  // Room for at least count elements; the block is replaced (contents lost)
  // only when it is too small.
  T* Reserve(size_t count) {
    size_t bytes = count * sizeof(T);
    if (bytes == 0) bytes = sizeof(T);
    if (bytes <= bytes_) return p_;
    std::free(p_);
    p_ = nullptr;
    bytes_ = 0;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr size_t kHuge = size_t{2} << 20;
    if (bytes >= kHuge) {
      bytes = (bytes + kHuge - 1) & ~(kHuge - 1);
      p_ = static_cast<T*>(std::aligned_alloc(kHuge, bytes));
      if (p_) madvise(p_, bytes, MADV_HUGEPAGE);  // a hint: failure only costs speed
    }
#endif
    if (!p_) p_ = static_cast<T*>(std::malloc(bytes));
    if (!p_) throw std::bad_alloc();
    bytes_ = bytes;
    return p_;
  }

  T* data() { return p_; }
  T& operator[](size_t i) { return p_[i]; }
  const T& operator[](size_t i) const { return p_[i]; }

 private:
  T* p_ = nullptr;
  size_t bytes_ = 0;
};

// The encoder's large arrays, kept by each thread from one call to the next,
// as a compressor object would be: the packer compresses block after block
// on the same threads, and a fresh 50 MiB of pages per block costs the
// system a few percent of the compression time to fault in and clear. Held
// until the thread ends; never larger than the largest input seen needs.
struct EncoderMemory {
  LargeArray<uint8_t> data;    // the filtered copy of the input
  LargeArray<uint32_t> heads;  // the match finder's hash tables
  LargeArray<uint32_t> child;  // its binary tree, two links per position

  static EncoderMemory& ForThisThread() {
    static thread_local EncoderMemory memory;
    return memory;
  }
};

}  // namespace lzms
