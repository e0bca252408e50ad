#include "package/decompressor.h"

#include <compressapi.h>

#include "app/system_dll.h"
#include "codec/lzms.h"

// The Compression API is never imported statically: an executable that
// imports a missing export does not start at all, and cabinet.dll lacks these
// entry points on some systems (Wine among them).
namespace {
using CreateDecompressorFn = BOOL(WINAPI*)(DWORD, PCOMPRESS_ALLOCATION_ROUTINES, PDECOMPRESSOR_HANDLE);
using DecompressFn = BOOL(WINAPI*)(DECOMPRESSOR_HANDLE, PVOID, SIZE_T, PVOID, SIZE_T, PSIZE_T);
using CloseDecompressorFn = BOOL(WINAPI*)(DECOMPRESSOR_HANDLE);
}  // namespace

void OpenBlockDecompressor(BlockDecompressor* d, bool forceBuiltIn) {
  *d = BlockDecompressor{};
  if (forceBuiltIn) return;
  HMODULE cabinet = LoadSystemLibrary(L"cabinet.dll");
  if (!cabinet) return;
  auto create = reinterpret_cast<CreateDecompressorFn>(
      reinterpret_cast<void*>(GetProcAddress(cabinet, "CreateDecompressor")));
  FARPROC decompress = GetProcAddress(cabinet, "Decompress");
  FARPROC close = GetProcAddress(cabinet, "CloseDecompressor");
  DECOMPRESSOR_HANDLE handle = nullptr;
  if (!create || !decompress || !close || !create(COMPRESS_ALGORITHM_LZMS, nullptr, &handle) || !handle) {
    FreeLibrary(cabinet);
    return;
  }
  d->cabinet = cabinet;
  d->handle = handle;
  d->decompress = reinterpret_cast<void*>(decompress);
  d->close = reinterpret_cast<void*>(close);
}

bool SystemDecompressBlock(BlockDecompressor* d, const uint8_t* in, size_t inSize, uint8_t* out,
                           size_t outSize) {
  if (!d->handle) return false;
  SIZE_T done = 0;
  const BOOL ok = reinterpret_cast<DecompressFn>(d->decompress)(
      static_cast<DECOMPRESSOR_HANDLE>(d->handle), const_cast<uint8_t*>(in), inSize, out, outSize, &done);
  return ok != FALSE && done == outSize;
}

bool DecompressBlock(BlockDecompressor* d, const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                     size_t* actual, BlockDecoder* servedBy) {
  BlockDecoder served = d->handle ? DecoderSystem : DecoderBuiltIn;
  *actual = outSize;
  bool ok = d->handle && SystemDecompressBlock(d, in, inSize, out, outSize);
  if (!ok) {
    if (d->handle) served = DecoderBuiltInAfterSystem;
    ok = LzmsBufferedDecompress(in, inSize, out, outSize, actual);
  }
  if (servedBy) *servedBy = served;
  return ok;
}

bool UsesSystemDecompressor(const BlockDecompressor* d) { return d->handle != nullptr; }

void CloseBlockDecompressor(BlockDecompressor* d) {
  if (d->handle) reinterpret_cast<CloseDecompressorFn>(d->close)(static_cast<DECOMPRESSOR_HANDLE>(d->handle));
  if (d->cabinet) FreeLibrary(d->cabinet);
  *d = BlockDecompressor{};
}
