#include "package_format/layout.h"

#include <cstring>

#include "codec/checksum.h"
#include "package_format/integrity.h"
#include "package_format/little_endian.h"
#include "package_format/uninstaller_signature.h"

namespace {

bool ReadMemory(void* context, uint64_t offset, void* buffer, size_t n) {
  memcpy(buffer, static_cast<const uint8_t*>(context) + offset, n);
  return true;
}

// Reads the package front to back, never beyond its end (the trailer).
struct Cursor {
  const ByteSource& source;
  uint64_t position, end;
  bool Fits(uint64_t n) const { return position <= end && n <= end - position; }
  bool Take(void* buffer, uint64_t n) {
    if (!Fits(n) || !ReadSource(source, position, buffer, n)) return false;
    position += n;
    return true;
  }
  bool Number(uint64_t* value, int bytes) {
    uint8_t raw[8];
    if (!Take(raw, bytes)) return false;
    *value = GetLe(raw, bytes);
    return true;
  }
};

// Walks the block headers; the compressed bytes are only skipped.
PackageReason ReadBlocks(Cursor* cursor, PackageLayout* layout) {
  // Each block takes 8 bytes at least: a count that cannot fit is refused
  // before anything is walked.
  if (!cursor->Fits(8 * uint64_t{layout->blockCount})) {
    layout->countRoom = cursor->end - cursor->position;
    return PackageReason::kBlockCountTooLarge;
  }
  for (uint32_t b = 0; b < layout->blockCount; ++b) {
    uint64_t raw = 0, packed = 0;
    if (!cursor->Number(&raw, 4) || !cursor->Number(&packed, 4) || !cursor->Fits(packed))
      return PackageReason::kBlockCut;
    layout->blocks.push_back(
        PackageBlock{static_cast<uint32_t>(raw), static_cast<uint32_t>(packed), cursor->position});
    cursor->position += packed;
  }
  return PackageReason::kNone;
}

// What follows the last block: nothing, or a sound section.
PackageReason ReadSection(Cursor* cursor, PackageLayout* layout) {
  layout->sectionSize = cursor->end - cursor->position;
  if (layout->sectionSize == 0) {
    // The blocks reach the trailer. A section must not be there all the
    // same: one changed compressed size that swallowed it would switch its
    // checks off. Where each version's section would begin, its magic and
    // version are looked for (compressed bytes that happen to hold them
    // there are not to be expected).
    for (uint32_t version : {1u, 2u, 3u}) {
      const uint64_t size = IntegritySectionSize(version, layout->blockCount);
      uint8_t start[12];
      if (size <= cursor->end - layout->headEnd &&
          ReadSource(cursor->source, cursor->end - size, start, 12) && memcmp(start, "HLVXSUMS", 8) == 0 &&
          GetLe(start + 8, 4) == version)
        return PackageReason::kSectionShape;
    }
    return PackageReason::kNone;
  }
  const uint64_t signatureOffset = cursor->position;
  layout->integrity.offset = cursor->position;
  // The magic and version first, so that only a section of the one size
  // they allow is read whole. A signature section before it is bounded by
  // its largest table, and the integrity section must begin where it ends.
  uint8_t start[16];
  if (layout->sectionSize < sizeof start ||
      !ReadSource(cursor->source, cursor->position, start, sizeof start))
    return PackageReason::kSectionForeign;
  uint64_t signatureSize = 0;
  if (memcmp(start, kUninstallerSignatureMagic, 8) == 0) {
    const uint64_t table = GetLe(start + 12, 4);
    signatureSize = kUninstallerSignatureHeadSize + table;
    if (table > kUninstallerSignatureMaxTable || layout->sectionSize < signatureSize + sizeof start ||
        !ReadSource(cursor->source, cursor->position + signatureSize, start, sizeof start))
      return PackageReason::kSectionSignature;
    layout->integrity.offset += signatureSize;
  }
  if (memcmp(start, "HLVXSUMS", 8) != 0)
    return signatureSize > 0 ? PackageReason::kSectionSignature : PackageReason::kSectionForeign;
  const uint32_t version = static_cast<uint32_t>(GetLe(start + 8, 4));
  const uint64_t expected = IntegritySectionSize(version, layout->blockCount);
  if (expected == 0) return PackageReason::kSectionVersion;
  if ((version == 3) != (signatureSize > 0)) return PackageReason::kSectionSignature;
  if (expected != layout->sectionSize - signatureSize) return PackageReason::kSectionShape;
  std::vector<uint8_t> section(layout->sectionSize);
  if (!cursor->Take(section.data(), section.size())) return PackageReason::kUnreadable;
  const uint64_t offset = layout->integrity.offset;
  const PackageReason reason =
      ParseIntegritySection(section.data(), section.size(), layout->blocks, &layout->integrity,
                            &layout->badBlock, static_cast<size_t>(signatureSize));
  layout->integrity.offset = offset;
  if (signatureSize > 0) layout->integrity.signatureOffset = signatureOffset;
  return reason;
}

}  // namespace

ByteSource MemorySource(const uint8_t* data, size_t size) {
  return ByteSource{size, const_cast<uint8_t*>(data), ReadMemory};
}

uint64_t PeCertificateEntryOffset(const ByteSource& source) {
  uint8_t dos[64];
  if (!ReadSource(source, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
  const int32_t pe = static_cast<int32_t>(GetLe(dos + 60, 4));
  uint8_t header[26];  // signature, file header, optional-header magic
  if (pe <= 0 || !ReadSource(source, static_cast<uint64_t>(pe), header, sizeof header) ||
      memcmp(header, "PE\0\0", 4) != 0)
    return 0;
  const uint64_t magic = GetLe(header + 24, 2);
  return static_cast<uint64_t>(pe) + 24 + (magic == 0x20B ? 112 : 96) + 32;
}

uint64_t SignedContentEnd(const ByteSource& source) {
  const uint64_t entry = PeCertificateEntryOffset(source);
  uint8_t raw[8];
  if (entry == 0 || !ReadSource(source, entry, raw, 8)) return source.size;
  const uint64_t table = GetLe(raw, 4), size = GetLe(raw + 4, 4);
  if (table == 0 || size == 0) return source.size;
  return table + size == source.size && table < source.size ? table : source.size;
}

PackageReason FindPackageTrailer(const ByteSource& source, PackageLayout* layout) {
  layout->fileSize = source.size;
  if (source.size <= kPackageTrailerSize) return PackageReason::kNoTrailer;
  const uint64_t end = SignedContentEnd(source);
  for (uint32_t i = 0; i < 8 && end >= i + kPackageTrailerSize; ++i) {
    uint8_t trailer[kPackageTrailerSize];
    const uint64_t at = end - i - kPackageTrailerSize;
    if (!ReadSource(source, at, trailer, sizeof trailer) ||
        memcmp(trailer + 16, kPackageTrailerMagic, 8) != 0)
      continue;
    layout->padding = i;
    layout->trailerOffset = at;
    layout->offset = GetLe(trailer, 8);
    layout->length = GetLe(trailer + 8, 8);
    if (layout->offset > at || layout->length != at - layout->offset) return PackageReason::kTrailerMismatch;
    return PackageReason::kNone;
  }
  return PackageReason::kNoTrailer;
}

PackageReason ReadPackageHeader(const ByteSource& source, PackageLayout* layout) {
  Cursor cursor{source, layout->offset, layout->trailerOffset};
  uint8_t start[12];
  if (!cursor.Take(start, sizeof start)) return PackageReason::kHeaderCut;
  if (memcmp(start, kPackageMagic, 4) != 0) return PackageReason::kHeaderMagic;
  if (GetLe(start + 4, 4) != 1) return PackageReason::kHeaderFormat;
  const uint64_t versionLength = GetLe(start + 8, 4);
  if (versionLength >= kPackageVersionLimit) return PackageReason::kVersionTooLong;
  char version[kPackageVersionLimit];
  if (!cursor.Take(version, versionLength) || !cursor.Number(&layout->totalSize, 8))
    return PackageReason::kHeaderCut;
  layout->version.assign(version, versionLength);
  return PackageReason::kNone;
}

PackageReason ReadPackageLayout(const ByteSource& source, PackageLayout* layout) {
  *layout = PackageLayout{};
  PackageReason reason = FindPackageTrailer(source, layout);
  if (reason == PackageReason::kNone) reason = ReadPackageHeader(source, layout);
  if (reason != PackageReason::kNone) return reason;
  Cursor cursor{source, layout->offset + 12 + layout->version.size() + 8, layout->trailerOffset};
  uint64_t count = 0;
  if (!cursor.Number(&count, 4)) return PackageReason::kHeaderCut;
  layout->entryCount = static_cast<uint32_t>(count);
  // Each entry takes 10 bytes at least.
  if (!cursor.Fits(10 * count)) {
    layout->countRoom = cursor.end - cursor.position;
    return PackageReason::kEntryCountTooLarge;
  }
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t nameLength = 0;
    PackageEntryRecord entry;
    if (!cursor.Number(&nameLength, 2) || !cursor.Fits(nameLength)) return PackageReason::kTableCut;
    entry.name.resize(nameLength);
    if (!cursor.Take(entry.name.data(), nameLength) || !cursor.Number(&entry.size, 8))
      return PackageReason::kTableCut;
    layout->entries.push_back(std::move(entry));
  }
  uint64_t blocks = 0;
  if (!cursor.Number(&blocks, 4)) return PackageReason::kTableCut;
  layout->blockCount = static_cast<uint32_t>(blocks);
  layout->headEnd = cursor.position;
  reason = ReadBlocks(&cursor, layout);
  return reason != PackageReason::kNone ? reason : ReadSection(&cursor, layout);
}

size_t FirstOversizedBlock(const PackageLayout& layout) {
  size_t b = 0;
  while (b < layout.blocks.size() && layout.blocks[b].rawSize <= kPackageBlockLimit) ++b;
  return b;
}

PackageReason CheckPackageHeadSum(const ByteSource& source, const PackageLayout& layout) {
  if (!layout.integrity.present) return PackageReason::kNone;
  Xxh64State state;
  Xxh64Begin(&state);
  uint8_t buffer[65536];
  for (uint64_t at = layout.offset; at < layout.headEnd;) {
    const uint64_t piece = layout.headEnd - at < sizeof buffer ? layout.headEnd - at : sizeof buffer;
    if (!ReadSource(source, at, buffer, piece)) return PackageReason::kUnreadable;
    Xxh64Update(&state, buffer, static_cast<size_t>(piece));
    at += piece;
  }
  return Xxh64End(&state) == layout.integrity.headSum ? PackageReason::kNone : PackageReason::kHeadChecksum;
}

bool SumEntrySizes(const std::vector<PackageEntryRecord>& entries, uint64_t* sum) {
  *sum = 0;
  for (const PackageEntryRecord& entry : entries) {
    if (entry.size > UINT64_MAX - *sum) return false;
    *sum += entry.size;
  }
  return true;
}

std::vector<uint8_t> EncodePackageHead(const std::string& version,
                                       const std::vector<PackageEntryRecord>& entries, uint64_t totalSize,
                                       uint32_t blockCount) {
  std::vector<uint8_t> out(kPackageMagic, kPackageMagic + 4);
  PutLe(&out, 1, 4);
  PutLe(&out, version.size(), 4);
  out.insert(out.end(), version.begin(), version.end());
  PutLe(&out, totalSize, 8);
  PutLe(&out, entries.size(), 4);
  for (const PackageEntryRecord& entry : entries) {
    PutLe(&out, entry.name.size(), 2);
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    PutLe(&out, entry.size, 8);
  }
  PutLe(&out, blockCount, 4);
  return out;
}

std::vector<uint8_t> EncodeBlockHeader(uint32_t rawSize, uint32_t packedSize) {
  std::vector<uint8_t> out;
  PutLe(&out, rawSize, 4);
  PutLe(&out, packedSize, 4);
  return out;
}

std::vector<uint8_t> EncodePackageTrailer(uint64_t offset, uint64_t length) {
  std::vector<uint8_t> out;
  PutLe(&out, offset, 8);
  PutLe(&out, length, 8);
  out.insert(out.end(), kPackageTrailerMagic, kPackageTrailerMagic + 8);
  return out;
}
