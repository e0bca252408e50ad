// Final bytes of a block while it is being decoded (see finisher.h).
#include <cstring>

#include "codec/container.h"
#include "codec/finisher.h"

bool LzmsFinisherBegin(LzmsFinisher* f, const uint8_t* in, size_t inSize, size_t outSize) {
  uint64_t total = 0, chunk = 0;
  if (!lzms::ReadHeader(in, inSize, &total, &chunk) || total > outSize || (total > 0 && chunk == 0))
    return false;
  f->in = in;
  f->inSize = inSize;
  f->total = total;
  f->chunkSize = chunk;
  f->at = lzms::kHeaderSize;
  f->chunkBegin = f->chunkEnd = f->done = f->stagingBase = f->staged = 0;
  f->translated = false;
  return true;
}

namespace {

// Moves on to the chunk that starts at f->done; false on a malformed header.
bool NextChunk(LzmsFinisher* f) {
  const size_t raw =
      static_cast<size_t>(f->total - f->done < f->chunkSize ? f->total - f->done : f->chunkSize);
  if (f->inSize - f->at < 4) return false;
  const uint8_t* h = f->in + f->at;
  const size_t packed = h[0] | h[1] << 8 | h[2] << 16 | static_cast<size_t>(h[3]) << 24;
  if (packed > f->inSize - f->at - 4) return false;
  f->at += 4 + packed;
  f->chunkBegin = f->done;
  f->chunkEnd = f->done + raw;
  f->stagingBase = f->staged = f->done;
  f->translated = !lzms::IsStoredChunk(packed, raw) && raw > lzms::kX86MinSize;
  if (f->translated) lzms::X86Begin(&f->x86, raw);
  return true;
}

}  // namespace

size_t LzmsFinisherNext(LzmsFinisher* f, const uint8_t* out, size_t decoded, const uint8_t** bytes) {
  if (f->done >= f->total) return 0;
  if (f->done == f->chunkEnd && !NextChunk(f)) return 0;
  const size_t available = decoded < f->chunkEnd ? decoded : f->chunkEnd;
  if (!f->translated) {
    // Stored, or too short to carry translations: the decoded bytes are final.
    if (available <= f->done) return 0;
    *bytes = out + f->done;
    const size_t n = available - f->done;
    f->done = available;
    return n;
  }

  // Bytes handed out last time leave the staging area; the few after them,
  // not final then, move to its front.
  if (f->done > f->stagingBase) {
    std::memmove(f->staging, f->staging + (f->done - f->stagingBase), f->staged - f->done);
    f->stagingBase = f->done;
  }
  // Copy what came since, as far as the staging area goes.
  const size_t limit = f->done + LzmsFinisher::kStagingSize;
  const size_t upTo = available < limit ? available : limit;
  if (upTo > f->staged) {
    std::memcpy(f->staging + (f->staged - f->stagingBase), out + f->staged, upTo - f->staged);
    f->staged = upTo;
  }
  // Instructions are examined up to 16 bytes before the end of the copy (they
  // read ahead that far), or to the chunk's end once it is all there.
  const bool whole = f->staged == f->chunkEnd;
  const int32_t stagedEnd = static_cast<int32_t>(f->staged - f->chunkBegin);
  const int32_t base = static_cast<int32_t>(f->stagingBase - f->chunkBegin);
  lzms::X86Step(&f->x86, f->staging, base, whole ? f->x86.end : stagedEnd - 16, true);
  // Translation only rewrites the bytes after an instruction's start, so what
  // lies before the next position to examine is final.
  size_t final = whole ? f->chunkEnd : f->chunkBegin + static_cast<size_t>(f->x86.next);
  if (final > f->staged) final = f->staged;
  if (final <= f->done) return 0;
  const size_t n = final - f->done;
  *bytes = f->staging;
  f->done = final;
  return n;
}
