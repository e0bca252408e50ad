// The consumer's half of LzmsBufferedDecode: while a decoder fills a block on
// another thread, the finisher hands out the block's final bytes in order,
// undoing each chunk's x86 translation on a copy of its own (the decoder's
// later matches still copy from the untranslated bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/format.h"

struct LzmsFinisher {
  static constexpr size_t kStagingSize = 1 << 20;

  const uint8_t* in = nullptr;  // the container given to the decoder
  size_t inSize = 0;
  uint64_t total = 0, chunkSize = 0;
  size_t at = 0;                        // next chunk header in `in`
  size_t chunkBegin = 0, chunkEnd = 0;  // the current chunk in the output
  bool translated = false;              // its x86 translation is to undo
  size_t done = 0;                      // bytes handed out so far
  size_t stagingBase = 0, staged = 0;   // staging holds output [stagingBase, staged)
  lzms::X86State x86;
  uint8_t staging[kStagingSize];
};

// Starts on a container that the decoder is about to decode into an output of
// outSize bytes. False when its header is not one the decoder would accept.
bool LzmsFinisherBegin(LzmsFinisher* f, const uint8_t* in, size_t inSize, size_t outSize);

// The next final bytes, given that out[0, decoded) are decoded: their count,
// and *bytes pointing at them (valid until the next call). 0 when more must be
// decoded first, when all `total` bytes were handed out, or when a chunk
// header is malformed (the decoder then fails as well).
size_t LzmsFinisherNext(LzmsFinisher* f, const uint8_t* out, size_t decoded, const uint8_t** bytes);
