#include <condition_variable>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "codec/finisher.h"
#include "codec/lzms.h"
#include "tools/pack.h"
#include "tools/pack_hash.h"

namespace {

// A block is decoded on a thread of its own while this one takes its final
// bytes as they come (the x86 translation undone on the finisher's copy) and
// hashes them: the checksums cost the time of the decoding's tail, not a
// second pass over 32 MiB that has long left the caches.
struct Decoding {
  std::mutex mutex;
  std::condition_variable changed;
  size_t size = 0;
  size_t decoded = 0, woken = 0;  // out[0, decoded) are decoded; `decoded` when last woken
  bool ended = false, whole = false;
};

// Waking the hashing thread at every report (each 256 KiB) costs more than it
// saves; every few MiB keeps it close behind.
constexpr size_t kWakeEvery = 2 << 20;

size_t OnDecoded(void* context, size_t decoded, size_t) {
  auto* d = static_cast<Decoding*>(context);
  std::lock_guard<std::mutex> lock(d->mutex);
  d->decoded = decoded;
  if (decoded - d->woken >= kWakeEvery) {
    d->woken = decoded;
    d->changed.notify_one();
  }
  return d->size;  // the whole output is allocated: the decoder never waits
}

// Decodes `packed` into *raw (sized to the block) and feeds the final bytes to
// the stream's SHA-256 and to *sum (XXH64 of the block). True when the block
// decoded to exactly its size.
bool DecodeAndHash(const std::vector<uint8_t>& packed, std::vector<uint8_t>* raw, LzmsFinisher* finisher,
                   PackSha256* stream, uint64_t* sum) {
  if (!LzmsFinisherBegin(finisher, packed.data(), packed.size(), raw->size())) return false;
  PackXxh64Stream blockSum;
  if (!PackXxh64Begin(&blockSum)) return false;
  Decoding d;
  d.size = raw->size();
  std::thread decoder([&] {
    size_t actual = 0;
    const bool whole =
        LzmsBufferedDecode(packed.data(), packed.size(), raw->data(), raw->size(), &actual, OnDecoded, &d) &&
        actual == raw->size();
    std::lock_guard<std::mutex> lock(d.mutex);
    d.decoded = whole ? actual : d.decoded;
    d.ended = true;
    d.whole = whole;
    d.changed.notify_one();
  });
  size_t handed = 0, decoded = 0;
  for (bool ended = false; !ended;) {
    {
      std::unique_lock<std::mutex> lock(d.mutex);
      d.changed.wait(lock, [&] { return d.ended || d.decoded != decoded; });
      ended = d.ended;
      if (ended && !d.whole) break;
      decoded = d.decoded;
    }
    const uint8_t* bytes = nullptr;
    while (size_t n = LzmsFinisherNext(finisher, raw->data(), decoded, &bytes)) {
      PackXxh64Update(&blockSum, bytes, n);
      PackSha256Update(stream, bytes, n);
      handed += n;
    }
  }
  decoder.join();
  *sum = PackXxh64End(&blockSum);
  return d.whole && handed == raw->size();
}

}  // namespace

bool VerifyPackage(const std::filesystem::path& file, const PackageInfo& info, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  const PackIntegrity& integrity = info.integrity;
  if (CheckHeadSum(file, info, error) != PackageReason::kNone) return false;
  for (const PackEntryInfo& entry : info.entries) {
    const std::string why = CheckEntryName(entry.name);
    if (!why.empty()) {
      *error = "entry \"" + entry.name + "\": " + why;
      return false;
    }
  }
  uint64_t entrySum = 0;
  if (!SumEntrySizes(info.entries, &entrySum)) {
    *error = "the entry sizes add up to more than " + std::to_string(UINT64_MAX) + " bytes";
    return false;
  }
  if (entrySum != info.totalSize) {
    *error = "the entry sizes add up to " + std::to_string(entrySum) + ", the header says " +
             std::to_string(info.totalSize);
    return false;
  }
  std::vector<uint8_t> packed, raw;
  std::unique_ptr<LzmsFinisher> finisher(new LzmsFinisher);
  uint64_t streamSize = 0;
  PackSha256 stream;
  if (!PackSha256Begin(&stream)) {
    *error = "SHA-256 is not available (libcrypto)";
    return false;
  }
  // Every way out releases the digest in progress.
  auto stop = [&](std::string why) {
    PackSha256End(&stream, nullptr);
    *error = std::move(why);
    return false;
  };
  for (size_t b = 0; b < info.blocks.size(); ++b) {
    const PackBlockInfo& block = info.blocks[b];
    const std::string name = "block " + std::to_string(b + 1) + "/" + std::to_string(info.blocks.size());
    if (block.rawSize > kPackBlockSize) {
      return stop(name + ": raw size " + std::to_string(block.rawSize) + " is above 32 MiB");
    }
    packed.resize(block.packedSize);
    raw.resize(block.rawSize);
    in.seekg(static_cast<std::streamoff>(block.dataOffset));
    in.read(reinterpret_cast<char*>(packed.data()), block.packedSize);
    const bool read = static_cast<bool>(in);
    if (read && integrity.present &&
        PackXxh64(packed.data(), packed.size()) != integrity.blocks[b].packedSum) {
      return stop(name + " is damaged: its compressed bytes differ from those packed");
    }
    uint64_t sum = 0;
    if (!read || !DecodeAndHash(packed, &raw, finisher.get(), &stream, &sum)) {
      return stop(name + " does not decode to its " + std::to_string(block.rawSize) + " bytes");
    }
    if (integrity.present && sum != integrity.blocks[b].sum) {
      return stop(name + " is damaged: it decodes to other bytes than were packed");
    }
    streamSize += block.rawSize;
  }
  if (streamSize != info.totalSize) {
    return stop("the blocks hold " + std::to_string(streamSize) + " bytes, the entries " +
                std::to_string(info.totalSize));
  }
  uint8_t digest[32];
  if (!PackSha256End(&stream, digest)) {
    *error = "the SHA-256 of the content could not be computed";
    return false;
  }
  if (integrity.present && memcmp(digest, integrity.streamSha256, 32) != 0) {
    *error = "the content stream does not match its SHA-256";
    return false;
  }
  return true;
}
