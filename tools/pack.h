// The packer's operations: building a setup file from a stub executable and a
// product folder, and reading one back (list, verify). Portable C++ only, so
// that the packer runs natively on Linux and builds for Windows alike.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "codec/lzms.h"

// Format constants shared by the writer and the reader.
inline constexpr uint64_t kPackBlockSize = 0x2000000;  // 32 MiB, the largest raw block
inline constexpr uint64_t kPackTrailerSize = 24;
inline constexpr char kPackMagic[] = "HLVX";
inline constexpr char kPackTrailerMagic[] = "HLVXPAK1";
inline constexpr char kPackProductExe[] = "Norvale-Lockra.exe";

// Little-endian integers, as the package stores them.
inline void PackPutLe(std::vector<uint8_t>* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline uint64_t PackGetLe(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  return value;
}

// One file of the product folder, in package order.
struct PackInput {
  std::string name;  // UTF-8, relative, sub-folders separated by backslashes
  std::filesystem::path source;
  uint64_t size = 0;
};

struct PackOptions {
  std::filesystem::path stub, input, out;
  std::string version;
  std::filesystem::path signCert, signKey;  // both or neither
  unsigned threads = 0;                     // 0: one per core
  bool progress = true;                     // progress lines on stderr
  LzmsLevel level = LzmsLevel::kNormal;     // the encoder's effort, recorded in the integrity section
  bool allowExpiredCert = false;            // sign with a certificate outside its validity (warned)
};

struct PackSummary {
  uint64_t files = 0, rawSize = 0, packedSize = 0, blocks = 0, stubSize = 0;
  double seconds = 0;
  std::vector<std::string> warnings;  // paths close to a limit of Windows, one line each
};

// Parsed package of a setup file (list, verify, tests).
struct PackEntryInfo {
  std::string name;
  uint64_t size = 0;
};
struct PackBlockInfo {
  uint32_t rawSize = 0, packedSize = 0;
  uint64_t dataOffset = 0;  // file offset of the compressed bytes
};
// The integrity section that follows the last block (pack_integrity.cpp).
struct PackBlockSum {
  uint32_t rawSize = 0, packedSize = 0;
  uint64_t sum = 0;        // XXH64 of the block's raw bytes
  uint64_t packedSum = 0;  // XXH64 of its compressed bytes
};
struct PackIntegrity {
  bool present = false;
  uint64_t offset = 0;   // file offset of the section
  uint64_t headSum = 0;  // XXH64 of header, entry table and block count
  std::vector<PackBlockSum> blocks;
  uint8_t streamSha256[32] = {};
  std::optional<LzmsLevel> level;  // the packing level; none in a version 1 section
};
struct PackageInfo {
  uint64_t offset = 0, length = 0, trailerOffset = 0, fileSize = 0;
  uint64_t headEnd = 0;  // file offset just after the block count
  uint32_t padding = 0;  // bytes between the trailer and the signed content's end (0..7)
  std::string version;
  uint64_t totalSize = 0;
  std::vector<PackEntryInfo> entries;
  std::vector<PackBlockInfo> blocks;
  PackIntegrity integrity;
};

// Empty when the package format can carry the name; otherwise why not.
std::string CheckEntryName(const std::string& name);

// The product folder's files: the product executable first, then the rest by
// name (bytewise). Symbolic links inside the folder stand for their targets.
// False on a missing folder, or with one line per offending path (names
// that cannot be installed on Windows, see pack_names.h; unreadable entries;
// links to outside the folder or in a loop) and a last line that sums up.
bool CollectInputFiles(const std::filesystem::path& dir, std::vector<PackInput>* files, std::string* error,
                       std::vector<std::string>* warnings = nullptr);

// Header, entry table and block count: everything before the first block.
std::vector<uint8_t> EncodePackageHead(const std::string& version, const std::vector<PackInput>& files,
                                       uint64_t totalSize, uint32_t blockCount);

// The integrity section of a package with these blocks, packed at this
// level; headSum is the XXH64 of EncodePackageHead's bytes.
std::vector<uint8_t> EncodeIntegritySection(uint64_t headSum, const std::vector<PackBlockSum>& blocks,
                                            const uint8_t streamSha256[32], LzmsLevel level);

// The most bytes the section of a package with this many blocks can take.
uint64_t LargestIntegritySection(uint64_t blockCount);

// Reads the section in bytes (everything between the last block and the
// trailer) for a package with these blocks. Empty when it is sound and agrees
// with them; otherwise what is wrong.
std::string ParseIntegritySection(const std::vector<uint8_t>& bytes, const std::vector<PackBlockInfo>& blocks,
                                  PackIntegrity* integrity);

// File offset of the PE certificate-table entry, 0 when the bytes are not a PE file.
uint64_t PeCertificateEntryOffset(const std::vector<uint8_t>& head);

// Where the signed content of a file ends: the certificate table's start when
// the PE entry names a table that reaches the file's end, else the file size.
uint64_t PackSearchEnd(const std::filesystem::path& file, uint64_t fileSize);

// Builds the setup file: temp file, then rename; nothing is left on failure.
bool BuildSetup(const PackOptions& options, PackSummary* summary, std::string* error);

// Why a certificate whose validity runs from notBefore to notAfter cannot
// sign at `now` (all three "YYYY-MM-DD HH:MM:SSZ"), or empty.
std::string CertificateDateProblem(const std::string& notBefore, const std::string& notAfter,
                                   const std::string& now);
// Empty when the certificate file is valid now; otherwise why not.
std::string CheckCertificateDates(const std::filesystem::path& cert);

// Signs `in` into `out` with osslsigncode.
bool SignFile(const std::filesystem::path& in, const std::filesystem::path& out,
              const std::filesystem::path& cert, const std::filesystem::path& key, std::string* error);

// Finds the trailer and reads header, entry table and block list.
bool ReadPackageInfo(const std::filesystem::path& file, PackageInfo* info, std::string* error);

// Decodes every block and checks the stream against the entry sizes and,
// when the package has one, every checksum of its integrity section.
bool VerifyPackage(const std::filesystem::path& file, const PackageInfo& info, std::string* error);

// The command line: build, list, verify. Returns the exit code.
int RunPackCommand(const std::vector<std::string>& args);
