// The packer's side of the package format (package_format/): the maker's
// files as a source, and each refusal in words.
#include <algorithm>
#include <cstring>
#include <fstream>

#include "package_format/entry_name.h"
#include "tools/pack.h"

namespace {

// The maker's file, read through a 64 KiB window: the fields of a table of
// millions of entries come at the speed of memory, not of a seek each.
struct StreamReader {
  std::ifstream in;
  uint64_t size = 0;
  std::vector<uint8_t> window = {};
  uint64_t windowStart = 0;
};
constexpr size_t kWindowSize = 65536;

bool ReadRange(std::ifstream& in, uint64_t offset, void* buffer, size_t n) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(n));
  return static_cast<size_t>(in.gcount()) == n;
}

bool ReadFromStream(void* context, uint64_t offset, void* buffer, size_t n) {
  auto& reader = *static_cast<StreamReader*>(context);
  if (n > kWindowSize) return ReadRange(reader.in, offset, buffer, n);
  if (offset < reader.windowStart || offset + n > reader.windowStart + reader.window.size()) {
    reader.window.resize(static_cast<size_t>(std::min<uint64_t>(kWindowSize, reader.size - offset)));
    reader.windowStart = offset;
    if (!ReadRange(reader.in, offset, reader.window.data(), reader.window.size())) {
      reader.window.clear();
      return false;
    }
  }
  memcpy(buffer, &reader.window[offset - reader.windowStart], n);
  return true;
}

ByteSource StreamSource(StreamReader* reader) { return ByteSource{reader->size, reader, ReadFromStream}; }

std::string Describe(PackageReason reason, const std::filesystem::path& file, const PackageInfo& info) {
  const std::string blocks = std::to_string(info.blockCount);
  switch (reason) {
    case PackageReason::kNone:
      return {};
    case PackageReason::kUnreadable:
      return "cannot read " + file.string();
    case PackageReason::kNoTrailer:
      return file.string() + " carries no package";
    case PackageReason::kTrailerMismatch:
      return "the trailer does not describe the bytes before it";
    case PackageReason::kHeaderMagic:
    case PackageReason::kHeaderFormat:
    case PackageReason::kVersionTooLong:
      return "the package header is not valid";
    case PackageReason::kHeaderCut:
      return "the package header is cut short";
    case PackageReason::kEntryCountTooLarge:
      return "the entry table announces " + std::to_string(info.entryCount) + " entries, more than the " +
             std::to_string(info.countRoom) + " bytes after it can hold";
    case PackageReason::kTableCut:
      return "the entry table is cut short";
    case PackageReason::kBlockCountTooLarge:
      return "the block list announces " + blocks + " blocks, more than the " +
             std::to_string(info.countRoom) + " bytes after it can hold";
    case PackageReason::kBlockCut:
      return "block " + std::to_string(info.blocks.size() + 1) + " of " + blocks + " is cut short";
    case PackageReason::kSectionForeign:
      return std::to_string(info.sectionSize) + " unexpected bytes after the last block";
    case PackageReason::kSectionVersion:
      return "the integrity section has an unknown version";
    case PackageReason::kSectionShape:
      return "the integrity section does not describe the package's " + blocks + " blocks";
    case PackageReason::kSectionChecksum:
      return "the integrity section is damaged (its own checksum does not match)";
    case PackageReason::kSectionSettings:
      return "the integrity section is damaged (its packer settings are not valid)";
    case PackageReason::kSectionBlockSizes:
      return "block " + std::to_string(info.badBlock + 1) + "/" + blocks +
             ": its sizes differ from the integrity section's";
    case PackageReason::kSectionSignature:
      return "the uninstaller's signature section and the integrity section do not go together";
    case PackageReason::kHeadChecksum:
      return "the header or the entry table is damaged (its checksum does not match)";
  }
  return "the package is damaged";
}

}  // namespace

std::string CheckEntryName(const std::string& name) {
  switch (CheckPackageEntryName(name).rule) {
    case NameRule::kEmpty:
      return "an empty name";
    case NameRule::kTooLong:
      return "a name longer than 65,535 bytes in UTF-8";
    case NameRule::kParentReference:
      return "a name containing \"..\"";
    case NameRule::kColon:
      return "a name containing ':'";
    case NameRule::kRooted:
      return "a name starting with a separator";
    case NameRule::kControl:
      return "a name containing a control character";
    default:  // fine as the format goes; its components are judged with Windows' rules
      return {};
  }
}

std::vector<uint8_t> EncodePackageHead(const std::string& version, const std::vector<PackInput>& files,
                                       uint64_t totalSize, uint32_t blockCount) {
  std::vector<PackageEntryRecord> entries;
  for (const PackInput& file : files) entries.push_back(PackageEntryRecord{file.name, file.size});
  return EncodePackageHead(version, entries, totalSize, blockCount);
}

uint64_t PeCertificateEntryOffset(const std::vector<uint8_t>& head) {
  return PeCertificateEntryOffset(MemorySource(head.data(), head.size()));
}

uint64_t PackSearchEnd(const std::filesystem::path& file, uint64_t fileSize) {
  StreamReader reader{std::ifstream(file, std::ios::binary), fileSize};
  return SignedContentEnd(StreamSource(&reader));
}

bool ReadPackageInfo(const std::filesystem::path& file, PackageInfo* info, std::string* error) {
  *info = PackageInfo{};
  std::error_code ec;
  const uint64_t fileSize = std::filesystem::file_size(file, ec);
  StreamReader reader{std::ifstream(file, std::ios::binary), fileSize};
  if (ec || !reader.in) {
    *error = "cannot read " + file.string();
    return false;
  }
  *error = Describe(ReadPackageLayout(StreamSource(&reader), info), file, *info);
  return error->empty();
}

PackageReason CheckHeadSum(const std::filesystem::path& file, const PackageInfo& info, std::string* error) {
  StreamReader reader{std::ifstream(file, std::ios::binary), info.fileSize};
  const PackageReason reason = CheckPackageHeadSum(StreamSource(&reader), info);
  *error = Describe(reason, file, info);
  return reason;
}
