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

bool DecompressBlock(BlockDecompressor* d, const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                     size_t* actual) {
  *actual = 0;
  if (!d->handle) return LzmsBufferedDecompress(in, inSize, out, outSize, actual);
  SIZE_T done = 0;
  BOOL ok = reinterpret_cast<DecompressFn>(d->decompress)(
      static_cast<DECOMPRESSOR_HANDLE>(d->handle), const_cast<uint8_t*>(in), inSize, out, outSize, &done);
  *actual = done;
  return ok != FALSE;
}

bool DecompressBlockForWriter(BlockDecompressor* d, const uint8_t* in, size_t inSize, uint8_t* out,
                              size_t outSize, size_t* actual, LzmsProgressFn progress, void* context) {
  if (!d->handle) return LzmsBufferedDecode(in, inSize, out, outSize, actual, progress, context);
  if (!DecompressBlock(d, in, inSize, out, outSize, actual)) return false;
  progress(context, *actual, *actual);  // a failed writer shows when the block ends
  return true;
}

bool UsesSystemDecompressor(const BlockDecompressor* d) { return d->handle != nullptr; }

void CloseBlockDecompressor(BlockDecompressor* d) {
  if (d->handle) reinterpret_cast<CloseDecompressorFn>(d->close)(static_cast<DECOMPRESSOR_HANDLE>(d->handle));
  if (d->cabinet) FreeLibrary(d->cabinet);
  *d = BlockDecompressor{};
}
