#include <algorithm>
#include <cstring>
#include <fstream>

#include "tools/pack.h"

namespace {

bool ReadRange(std::ifstream& in, uint64_t offset, void* buffer, size_t n) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(n));
  return in.good() || (in.eof() && static_cast<size_t>(in.gcount()) == n);
}

// Sequential reader over the package with a hard end (the trailer). Small
// fields come from a buffer read 64 KiB at a time: a table of millions of
// entries is walked at the speed of memory, not of one seek per field.
struct Cursor {
  std::ifstream* in;
  uint64_t position, end;
  std::vector<uint8_t> buffer = {};
  uint64_t bufferStart = 0;
  uint64_t Left() const { return end - position; }
  bool Take(void* out, uint64_t n) {
    if (n > Left()) return false;
    if (position < bufferStart || position + n > bufferStart + buffer.size()) {
      if (n > kBufferSize) {
        if (!ReadRange(*in, position, out, n)) return false;
        position += n;
        return true;
      }
      buffer.resize(std::min<uint64_t>(kBufferSize, Left()));
      bufferStart = position;
      if (!ReadRange(*in, position, buffer.data(), buffer.size())) {
        buffer.clear();
        return false;
      }
    }
    if (n > 0) memcpy(out, &buffer[position - bufferStart], n);
    position += n;
    return true;
  }
  static constexpr uint64_t kBufferSize = 65536;
  bool Number(uint64_t* value, int bytes) {
    uint8_t raw[8];
    if (!Take(raw, bytes)) return false;
    *value = PackGetLe(raw, bytes);
    return true;
  }
};

}  // namespace

std::string CheckEntryName(const std::string& name) {
  if (name.empty()) return "an empty name";
  if (name.size() > 65535) return "a name longer than 65,535 bytes in UTF-8";
  if (name.find("..") != std::string::npos) return "a name containing \"..\"";
  if (name.find(':') != std::string::npos) return "a name containing ':'";
  if (name[0] == '\\' || name[0] == '/') return "a name starting with a separator";
  for (unsigned char c : name)
    if (c < 0x20) return "a name containing a control character";
  return {};
}

std::vector<uint8_t> EncodePackageHead(const std::string& version, const std::vector<PackInput>& files,
                                       uint64_t totalSize, uint32_t blockCount) {
  std::vector<uint8_t> out(kPackMagic, kPackMagic + 4);
  PackPutLe(&out, 1, 4);
  PackPutLe(&out, version.size(), 4);
  out.insert(out.end(), version.begin(), version.end());
  PackPutLe(&out, totalSize, 8);
  PackPutLe(&out, files.size(), 4);
  for (const PackInput& file : files) {
    PackPutLe(&out, file.name.size(), 2);
    out.insert(out.end(), file.name.begin(), file.name.end());
    PackPutLe(&out, file.size, 8);
  }
  PackPutLe(&out, blockCount, 4);
  return out;
}

uint64_t PeCertificateEntryOffset(const std::vector<uint8_t>& head) {
  if (head.size() < 64 || head[0] != 'M' || head[1] != 'Z') return 0;
  const int32_t pe = static_cast<int32_t>(PackGetLe(&head[60], 4));
  if (pe <= 0 || static_cast<uint64_t>(pe) + 26 > head.size()) return 0;
  if (memcmp(&head[pe], "PE\0\0", 4) != 0) return 0;
  const uint64_t magic = PackGetLe(&head[pe + 24], 2);
  return pe + 24 + (magic == 0x20B ? 112 : 96) + 32;
}

uint64_t PackSearchEnd(const std::filesystem::path& file, uint64_t fileSize) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> head(65536);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  const uint64_t entry = PeCertificateEntryOffset(head);
  uint8_t raw[8];
  if (entry == 0 || !ReadRange(in, entry, raw, 8)) return fileSize;
  const uint64_t table = PackGetLe(raw, 4), size = PackGetLe(raw + 4, 4);
  if (table == 0 || size == 0) return fileSize;
  return table + size == fileSize && table < fileSize ? table : fileSize;
}

bool ReadPackageInfo(const std::filesystem::path& file, PackageInfo* info, std::string* error) {
  *info = PackageInfo{};
  std::error_code ec;
  const uint64_t fileSize = std::filesystem::file_size(file, ec);
  std::ifstream in(file, std::ios::binary);
  if (ec || !in) {
    *error = "cannot read " + file.string();
    return false;
  }
  info->fileSize = fileSize;
  const uint64_t end = PackSearchEnd(file, fileSize);
  bool found = false;
  for (uint32_t i = 0; i < 8 && !found && end >= i + kPackTrailerSize; ++i) {
    uint8_t trailer[kPackTrailerSize];
    if (ReadRange(in, end - i - kPackTrailerSize, trailer, sizeof trailer) &&
        memcmp(trailer + 16, kPackTrailerMagic, 8) == 0) {
      found = true;
      info->padding = i;
      info->trailerOffset = end - i - kPackTrailerSize;
      info->offset = PackGetLe(trailer, 8);
      info->length = PackGetLe(trailer + 8, 8);
    }
  }
  if (!found) {
    *error = file.string() + " carries no package";
    return false;
  }
  if (info->offset > info->trailerOffset || info->length != info->trailerOffset - info->offset) {
    *error = "the trailer does not describe the bytes before it";
    return false;
  }
  Cursor cursor{&in, info->offset, info->trailerOffset};
  char magic[4];
  uint64_t format = 0, versionLength = 0, count = 0;
  if (!cursor.Take(magic, 4) || memcmp(magic, kPackMagic, 4) != 0 || !cursor.Number(&format, 4) ||
      format != 1 || !cursor.Number(&versionLength, 4) || versionLength >= 64) {
    *error = "the package header is not valid";
    return false;
  }
  info->version.resize(versionLength);
  if (!cursor.Take(info->version.data(), versionLength) || !cursor.Number(&info->totalSize, 8) ||
      !cursor.Number(&count, 4)) {
    *error = "the package header is cut short";
    return false;
  }
  // Every count is held to the bytes that could hold it (an entry takes at
  // least 10, a block 8) before anything is walked or kept.
  if (count > cursor.Left() / 10) {
    *error = "the entry table announces " + std::to_string(count) + " entries, more than the " +
             std::to_string(cursor.Left()) + " bytes after it can hold";
    return false;
  }
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t nameLength = 0;
    PackEntryInfo entry;
    if (!cursor.Number(&nameLength, 2)) break;
    entry.name.resize(nameLength);
    if (!cursor.Take(entry.name.data(), nameLength) || !cursor.Number(&entry.size, 8)) break;
    info->entries.push_back(std::move(entry));
  }
  uint64_t blocks = 0;
  if (info->entries.size() != count || !cursor.Number(&blocks, 4)) {
    *error = "the entry table is cut short";
    return false;
  }
  info->headEnd = cursor.position;
  if (blocks > cursor.Left() / 8) {
    *error = "the block list announces " + std::to_string(blocks) + " blocks, more than the " +
             std::to_string(cursor.Left()) + " bytes after it can hold";
    return false;
  }
  for (uint64_t b = 0; b < blocks; ++b) {
    uint64_t raw = 0, packed = 0;
    if (!cursor.Number(&raw, 4) || !cursor.Number(&packed, 4) || packed > cursor.end - cursor.position) {
      *error = "block " + std::to_string(b + 1) + " of " + std::to_string(blocks) + " is cut short";
      return false;
    }
    info->blocks.push_back(
        PackBlockInfo{static_cast<uint32_t>(raw), static_cast<uint32_t>(packed), cursor.position});
    cursor.position += packed;
  }
  // What follows the last block is the integrity section, or nothing.
  if (cursor.position == cursor.end) return true;
  if (cursor.Left() > LargestIntegritySection(blocks)) {
    *error = std::to_string(cursor.Left()) + " unexpected bytes after the last block";
    return false;
  }
  std::vector<uint8_t> section(cursor.end - cursor.position);
  if (!cursor.Take(section.data(), section.size())) {
    *error = "cannot read the bytes after the last block";
    return false;
  }
  *error = ParseIntegritySection(section, info->blocks, &info->integrity);
  info->integrity.offset = cursor.position - section.size();
  return error->empty();
}
