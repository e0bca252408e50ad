// The Compression API's buffered container, shared by its reader and writer.
//
// Header (24 bytes): magic 0A 51 E5 C0 18 00; a check byte, the low byte of
// the CRC-32 of the other 23 header bytes; the algorithm (5 = LZMS); the total
// uncompressed size (u64 LE); the uncompressed size of every chunk but the
// last (u64 LE). Then per chunk: its compressed size (u32 LE) and its bytes, a
// raw LZMS stream of its own, or the chunk as is when both sizes are equal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/lzms.h"

namespace lzms {

constexpr size_t kHeaderSize = 24;
constexpr uint8_t kMagic[6] = {0x0A, 0x51, 0xE5, 0xC0, 0x18, 0x00};
constexpr uint8_t kAlgorithmLzms = 5;

// The header's check byte (byte 6 itself is skipped).
uint8_t HeaderCheckByte(const uint8_t* header);

// A chunk is kept as is when coding does not shrink it.
inline bool IsStoredChunk(size_t packed, size_t raw) { return packed == raw; }

// Header fields, once magic, check byte and algorithm are right.
bool ReadHeader(const uint8_t* in, size_t inSize, uint64_t* total, uint64_t* chunkSize);

// One raw LZMS stream into out[0, outSize); `base` is the position of out in
// the whole buffer, for the progress reports.
bool DecodeStream(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, bool undoX86,
                  LzmsProgressFn report, void* context, size_t base);

}  // namespace lzms
