// The package appended to a setup executable, read and written in one place.
//
// Layout of a setup file: the image, the package at offset P, a 24-byte
// trailer {P, package length, "HLVXPAK1"}, then, when signed, 0 to 7 zero
// bytes and the certificate table that the PE header's security entry points
// to. The package length is exactly the bytes from P to the trailer: a
// shorter one would let the integrity section fall outside the package, and
// a single changed byte switch its checks off.
//
// The package: header {"HLVX", format 1 (4), version length L < 64 (4), L
// ASCII bytes of version, total size (8)}, entry table {count N (4), N times
// {name length (2), UTF-8 name, size (8)}}, block list {count B (4), B times
// {raw size (4), compressed size (4), compressed bytes}}, then the integrity
// section (integrity.h), or nothing, up to the trailer; a signed build puts
// the uninstaller's signature section (uninstaller_signature.h) between the
// last block and an integrity section of version 3. Every integer is
// little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package_format/reason.h"
#include "package_format/source.h"

inline constexpr uint64_t kPackageBlockLimit = 0x2000000;  // 32 MiB, the largest raw block
inline constexpr uint64_t kPackageTrailerSize = 24;
inline constexpr uint32_t kPackageVersionLimit = 64;  // version lengths stay below it
inline constexpr char kPackageMagic[] = "HLVX";
inline constexpr char kPackageTrailerMagic[] = "HLVXPAK1";

struct PackageEntryRecord {
  std::string name;  // UTF-8, relative, sub-folders separated by backslashes
  uint64_t size = 0;
};

struct PackageBlock {
  uint32_t rawSize = 0, packedSize = 0;
  uint64_t dataOffset = 0;  // file offset of the compressed bytes
};

// What the integrity section records for one block.
struct PackageBlockSums {
  uint32_t rawSize = 0, packedSize = 0;
  uint64_t sum = 0;        // XXH64 of the block's raw bytes
  uint64_t packedSum = 0;  // XXH64 of its compressed bytes
};

struct PackageIntegrity {
  bool present = false;
  uint64_t offset = 0;   // file offset of the section
  uint64_t headSum = 0;  // XXH64 of header, entry table and block count
  std::vector<PackageBlockSums> blocks;
  uint8_t streamSha256[32] = {};
  std::optional<uint8_t> level;  // 0 normal, 1 max; none in a version 1 section
  // The uninstaller's signature section before a version 3 section
  // (uninstaller_signature.h): its bytes, as the section's checksum covers
  // them, and its file offset; empty when there is none. Its own rules are
  // judged where it is used (ParseUninstallerSignature).
  std::vector<uint8_t> signature;
  uint64_t signatureOffset = 0;
};

// Everything read from a setup file. After a refusal, the fields read so far
// stay filled (the entries and blocks up to the one that failed).
struct PackageLayout {
  uint64_t fileSize = 0;
  uint64_t offset = 0, length = 0, trailerOffset = 0;  // the trailer's P and length, and where it lies
  uint32_t padding = 0;  // bytes between the trailer and the signed content's end (0..7)
  std::string version;
  uint64_t totalSize = 0;
  uint32_t entryCount = 0, blockCount = 0;  // as the package declares them
  std::vector<PackageEntryRecord> entries;
  uint64_t headEnd = 0;  // file offset just after the block count
  std::vector<PackageBlock> blocks;
  PackageIntegrity integrity;
  uint64_t countRoom = 0;    // with k*CountTooLarge: the bytes after the count, up to the trailer
  uint64_t sectionSize = 0;  // bytes between the last block and the trailer
  size_t badBlock = 0;       // with kSectionBlockSizes: which block
};

// File offset of the PE certificate-table entry, 0 when the bytes are not a
// PE file.
uint64_t PeCertificateEntryOffset(const ByteSource& source);

// Where the signed content ends: the certificate table's start when the PE
// entry names a table that reaches the end of the source, else its size.
uint64_t SignedContentEnd(const ByteSource& source);

// Finds the trailer and fills fileSize, padding, trailerOffset, offset and
// length. kNoTrailer, or kTrailerMismatch when a trailer was found (its
// fields are filled) but does not describe exactly the bytes before it.
PackageReason FindPackageTrailer(const ByteSource& source, PackageLayout* layout);

// After FindPackageTrailer: the header (version and total size), bounded by
// the trailer.
PackageReason ReadPackageHeader(const ByteSource& source, PackageLayout* layout);

// Trailer, header, entry table, block list and integrity section. The names
// are not judged here (entry_name.h); the blocks' raw sizes neither
// (FirstOversizedBlock), nor the head's checksum (CheckPackageHeadSum).
PackageReason ReadPackageLayout(const ByteSource& source, PackageLayout* layout);

// The index of the first block whose raw size is above 32 MiB, or the
// block count.
size_t FirstOversizedBlock(const PackageLayout& layout);

// The head's bytes against the integrity section's checksum of them (sound
// when there is no section).
PackageReason CheckPackageHeadSum(const ByteSource& source, const PackageLayout& layout);

// The sum of the entry sizes; false when it does not fit in 64 bits.
bool SumEntrySizes(const std::vector<PackageEntryRecord>& entries, uint64_t* sum);

// Header, entry table and block count: everything before the first block.
std::vector<uint8_t> EncodePackageHead(const std::string& version,
                                       const std::vector<PackageEntryRecord>& entries, uint64_t totalSize,
                                       uint32_t blockCount);

// The 8 bytes before a block's compressed bytes.
std::vector<uint8_t> EncodeBlockHeader(uint32_t rawSize, uint32_t packedSize);

// The trailer of a package at offset with this length.
std::vector<uint8_t> EncodePackageTrailer(uint64_t offset, uint64_t length);
