// Writing the blocks' bytes over the output files on a thread of its own, so
// that the disk works while the extraction decodes: the decoder reports how
// far it got, and the writer hands the final bytes to the files as they come.
// One block at a time: the decoding thread begins a block, decodes it,
// passing its progress reports on to ReportDecoded, ends it, and only then
// reuses the block's buffers.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "codec/checksum.h"
#include "codec/finisher.h"
#include "package/extract.h"
#include "package/integrity.h"

struct BlockWriter {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;
  ExtractCursor* cursor = nullptr;
  std::unique_ptr<LzmsFinisher> finisher;  // undoes the built-in decoder's x86 translation

  // The block in hand, set by BeginBlock.
  const uint8_t* out = nullptr;
  size_t size = 0;          // of the block
  bool finalBytes = false;  // decoded bytes are final (the system's decompressor)
  bool finisherReady = false;
  bool writing = false;   // the writer still owns the block
  size_t decoded = 0;     // out[0, decoded) are decoded
  size_t woken = 0;       // what `decoded` was when the writer was last woken
  bool ended = false;     // the decoder returned...
  bool decodeOk = false;  // ...with the whole block
  bool writeOk = true;    // no write has failed, every file could be opened
  const uint8_t* container = nullptr;
  size_t containerSize = 0;
  bool checkSum = false;  // the block must hash to `expected`
  BlockSums expected;
  bool containerHashed = false, containerOk = false;  // the writer's, during the block
  Xxh64State sum;                                     // of the final bytes handed out so far
  bool sumOk = true;                                  // no block has failed its checksum
  bool quit = false;
};

// Starts the writer thread over the cursor (its first file already open).
// False when no thread or memory could be had.
bool StartBlockWriter(BlockWriter* w, ExtractCursor* cursor);

// Hands a block to the writer before its decoding starts. `container` (what
// the decoder reads) and `out` (what it fills) stay untouched until EndBlock.
// With expected sums, the block's final bytes are hashed as they are written,
// its container once it is decoded, and the block is whole only when both
// match.
void BeginBlock(BlockWriter* w, const uint8_t* container, size_t containerSize, const uint8_t* out,
                size_t outSize, bool finalBytes, const BlockSums* expected);

// The decoder's progress: out[0, decoded) are decoded. False once the writer
// has failed, which must stop the decoder.
bool ReportDecoded(BlockWriter* w, size_t decoded);

// The decoder returned; with decodedWhole the block is complete and is
// written to its end, otherwise the writer stops where it is. Waits until the
// writer lets go of the block; true when it was written whole (and matched
// its checksum: sumOk tells a mismatch from other failures).
bool EndBlock(BlockWriter* w, bool decodedWhole);

// Stops and joins the writer thread.
void StopBlockWriter(BlockWriter* w);
