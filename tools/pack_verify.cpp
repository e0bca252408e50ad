#include <fstream>

#include "codec/lzms.h"
#include "tools/pack.h"

bool VerifyPackage(const std::filesystem::path& file, const PackageInfo& info, std::string* error) {
  for (const PackEntryInfo& entry : info.entries) {
    const std::string why = CheckEntryName(entry.name);
    if (!why.empty()) {
      *error = "entry \"" + entry.name + "\": " + why;
      return false;
    }
  }
  uint64_t entrySum = 0;
  for (const PackEntryInfo& entry : info.entries) entrySum += entry.size;
  if (entrySum != info.totalSize) {
    *error = "the entry sizes add up to " + std::to_string(entrySum) + ", the header says " +
             std::to_string(info.totalSize);
    return false;
  }
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> packed, raw;
  uint64_t streamSize = 0;
  for (size_t b = 0; b < info.blocks.size(); ++b) {
    const PackBlockInfo& block = info.blocks[b];
    const std::string name = "block " + std::to_string(b + 1) + "/" + std::to_string(info.blocks.size());
    if (block.rawSize > kPackBlockSize) {
      *error = name + ": raw size " + std::to_string(block.rawSize) + " is above 32 MiB";
      return false;
    }
    packed.resize(block.packedSize);
    raw.resize(block.rawSize);
    in.seekg(static_cast<std::streamoff>(block.dataOffset));
    in.read(reinterpret_cast<char*>(packed.data()), block.packedSize);
    size_t actual = 0;
    if (!in || !LzmsBufferedDecompress(packed.data(), packed.size(), raw.data(), raw.size(), &actual) ||
        actual != block.rawSize) {
      *error = name + " does not decode to its " + std::to_string(block.rawSize) + " bytes";
      return false;
    }
    streamSize += block.rawSize;
  }
  if (streamSize != info.totalSize) {
    *error = "the blocks hold " + std::to_string(streamSize) + " bytes, the entries " +
             std::to_string(info.totalSize);
    return false;
  }
  return true;
}
