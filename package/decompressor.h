// Decompression of one package block (the Compression API's buffered LZMS
// container). The system's cabinet.dll does the work when it exports the
// Compression API; otherwise (older systems, Wine) the built-in portable
// decoder restores the same bytes behind the same call.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

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

// True only when the whole container decoded; *actual is the byte count written.
bool DecompressBlock(BlockDecompressor* d, const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                     size_t* actual);

// The same for a writer that follows the decoding (block_writer.h): the
// built-in decoder calls progress as it goes (writing only where it is given
// room) and leaves the x86 translation to the writer; the system's
// decompressor writes anywhere in out and gives final bytes, reported once.
bool DecompressBlockForWriter(BlockDecompressor* d, const uint8_t* in, size_t inSize, uint8_t* out,
                              size_t outSize, size_t* actual, LzmsProgressFn progress, void* context);

// True when the system's Compression API serves this decompressor.
bool UsesSystemDecompressor(const BlockDecompressor* d);

void CloseBlockDecompressor(BlockDecompressor* d);
