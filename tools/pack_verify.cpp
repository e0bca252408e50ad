#include <cstring>
#include <fstream>
#include <utility>

#include "codec/lzms.h"
#include "tools/pack.h"
#include "tools/pack_hash.h"

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
    if (in && integrity.present && PackXxh64(packed.data(), packed.size()) != integrity.blocks[b].packedSum) {
      return stop(name + " is damaged: its compressed bytes differ from those packed");
    }
    size_t actual = 0;
    if (!in || !LzmsBufferedDecompress(packed.data(), packed.size(), raw.data(), raw.size(), &actual) ||
        actual != block.rawSize) {
      return stop(name + " does not decode to its " + std::to_string(block.rawSize) + " bytes");
    }
    if (integrity.present && PackXxh64(raw.data(), raw.size()) != integrity.blocks[b].sum) {
      return stop(name + " is damaged: it decodes to other bytes than were packed");
    }
    PackSha256Update(&stream, raw.data(), raw.size());
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
