#include "package/block_writer.h"

#include <new>
#include <system_error>

#include "app/log.h"
#include "app/state.h"

namespace {

constexpr size_t kWakeEvery = 4 << 20;

// Writes final bytes over the output files in table order; bytes beyond the
// last entry are dropped.
bool Spread(ExtractCursor* cursor, const uint8_t* data, size_t size) {
  size_t position = 0;
  while (position < size && cursor->handle != INVALID_HANDLE_VALUE) {
    const uint64_t chunk = size - position < (1u << 30) ? size - position : (1u << 30);
    const DWORD n = static_cast<DWORD>(cursor->bytesLeft < chunk ? cursor->bytesLeft : chunk);
    DWORD written = 0;
    const bool ok = WriteFile(cursor->handle, data + position, n, &written, nullptr) && written == n;
    position += n;
    cursor->bytesLeft -= n;
    InstallerState.bytesDone += n;
    if (!ok) {
      LogFailure(L"extraction: cannot write", cursor->entries[cursor->index].path);
      return false;
    }
    if (cursor->bytesLeft == 0) AdvanceToNextFile(cursor);
  }
  return cursor->failedPath.empty();
}

// Writes what is final in out[0, decoded); false when a write failed.
bool WriteAvailable(BlockWriter* w, size_t decoded, size_t* written) {
  if (w->finalBytes) {
    if (decoded <= *written) return true;
    if (w->checkSum) Xxh64Update(&w->sum, w->out + *written, decoded - *written);
    const bool ok = Spread(w->cursor, w->out + *written, decoded - *written);
    *written = decoded;
    return ok;
  }
  const uint8_t* bytes = nullptr;
  while (size_t n = LzmsFinisherNext(w->finisher.get(), w->out, decoded, &bytes)) {
    if (w->checkSum) Xxh64Update(&w->sum, bytes, n);
    if (!Spread(w->cursor, bytes, n)) return false;
    *written += n;
  }
  return true;
}

void WriterMain(BlockWriter* w) {
  std::unique_lock<std::mutex> lock(w->mutex);
  size_t seen = 0, written = 0;
  for (;;) {
    w->changed.wait(lock, [&] { return w->quit || (w->writing && (w->decoded != seen || w->ended)); });
    if (w->quit) return;
    const size_t decoded = w->decoded;
    const bool ended = w->ended, decodeOk = w->decodeOk;
    seen = decoded;
    if (ended && !decodeOk) {
      w->writing = false;
      seen = written = 0;
      w->changed.notify_all();
      continue;
    }
    lock.unlock();
    // The container is hashed at the block's first wake-up, while the
    // decoder is still busy (a changed byte that the decoder happens not to
    // read is still a damaged copy); the final bytes as they go out.
    if (w->checkSum && !w->containerHashed) {
      w->containerOk = Xxh64(w->container, w->containerSize) == w->expected.packedSum;
      w->containerHashed = true;
    }
    const bool ok = (w->finalBytes || w->finisherReady) && WriteAvailable(w, decoded, &written);
    // A mismatch fails the block before it counts as done.
    const bool matches =
        !ok || !ended || !w->checkSum || (w->containerOk && Xxh64End(&w->sum) == w->expected.sum);
    lock.lock();
    if (!ok) w->writeOk = false;
    if (!matches) w->sumOk = false;
    if (!ok || ended) {
      // Failed, or the whole block is out (every decoded byte was reported
      // before the end): let the decoding thread go on.
      w->writing = false;
      seen = written = 0;
      w->changed.notify_all();
    }
  }
}

}  // namespace

bool StartBlockWriter(BlockWriter* w, ExtractCursor* cursor) {
  w->cursor = cursor;
  w->finisher.reset(new (std::nothrow) LzmsFinisher);
  if (!w->finisher) return false;
  try {
    w->thread = std::thread(WriterMain, w);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void BeginBlock(BlockWriter* w, const uint8_t* container, size_t containerSize, const uint8_t* out,
                size_t outSize, bool finalBytes, const BlockSums* expected) {
  std::lock_guard<std::mutex> lock(w->mutex);
  w->container = container;
  w->containerSize = containerSize;
  w->checkSum = expected != nullptr;
  w->containerHashed = w->containerOk = false;
  w->expected = expected ? *expected : BlockSums{};
  Xxh64Begin(&w->sum);
  w->out = out;
  w->finalBytes = finalBytes;
  // A header the finisher refuses is one the decoder refuses as well.
  w->finisherReady = !finalBytes && LzmsFinisherBegin(w->finisher.get(), container, containerSize, outSize);
  w->size = outSize;
  w->decoded = w->woken = 0;
  w->ended = w->decodeOk = false;
  w->writing = true;
}

bool ReportDecoded(BlockWriter* w, size_t decoded) {
  std::lock_guard<std::mutex> lock(w->mutex);
  w->decoded = decoded;
  // Waking the writer for every report costs more than it saves (under Wine
  // each wake-up goes through the server): it is woken for every few MiB,
  // and at every report near the end of the block, so that little is left
  // to write once the decoder is done with it.
  if (decoded - w->woken >= kWakeEvery || w->size - decoded <= kWakeEvery) {
    w->woken = decoded;
    w->changed.notify_all();
  }
  return w->writeOk;
}

bool EndBlock(BlockWriter* w, bool decodedWhole) {
  std::unique_lock<std::mutex> lock(w->mutex);
  w->ended = true;
  w->decodeOk = decodedWhole;
  w->changed.notify_all();
  w->changed.wait(lock, [&] { return !w->writing; });
  return decodedWhole && w->writeOk && w->sumOk;
}

void StopBlockWriter(BlockWriter* w) {
  if (w->thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(w->mutex);
      w->quit = true;
      w->changed.notify_all();
    }
    w->thread.join();
  }
}
