// Decompression of one package block (the Compression API's buffered LZMS
// container). The system's cabinet.dll does the work when it exports the
// Compression API; otherwise (older systems, Wine) the built-in portable
// decoder restores the same bytes behind the same call. A block that the
// system's decompressor refuses (a failure, or a size other than the block's)
// is decoded again by the built-in decoder before it counts as damaged: a
// limit or quirk of one system's decompressor must not fail a whole file.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "app/state.h"
#include "codec/lzms.h"

struct BlockDecompressor {
  HMODULE cabinet = nullptr;   // loaded from System32 only
  void* handle = nullptr;      // the API's DECOMPRESSOR_HANDLE, or null for the built-in decoder
  void* decompress = nullptr;  // the API's Decompress entry point
  void* close = nullptr;       // the API's CloseDecompressor entry point
};

// Prefers the system decompressor; falls back to the built-in one when the
// library, one of its entry points or the decompressor creation is missing.
// With forceBuiltIn the system library is not even looked at.
void OpenBlockDecompressor(BlockDecompressor* d, bool forceBuiltIn = false);

// True only when the whole container decoded; *actual is the byte count
// written. The system's decompressor first, where there is one, then the
// built-in decoder when the system's refuses; *servedBy says which served.
bool DecompressBlock(BlockDecompressor* d, const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                     size_t* actual, BlockDecoder* servedBy = nullptr);

// The system's decompressor alone: true only when it restored exactly
// outSize bytes (it writes anywhere in out; the bytes are final).
bool SystemDecompressBlock(BlockDecompressor* d, const uint8_t* in, size_t inSize, uint8_t* out,
                           size_t outSize);

// True when the system's Compression API serves this decompressor.
bool UsesSystemDecompressor(const BlockDecompressor* d);

void CloseBlockDecompressor(BlockDecompressor* d);
