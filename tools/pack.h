// The packer's operations: building a setup file from a stub executable and a
// product folder, and reading one back (list, verify). Portable C++ only, so
// that the packer runs natively on Linux and builds for Windows alike.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/lzms.h"

// Format constants shared by the writer and the reader.
inline constexpr uint64_t kPackBlockSize = 0x2000000;  // 32 MiB, the largest raw block
inline constexpr uint64_t kPackTrailerSize = 24;
inline constexpr char kPackMagic[] = "HLVX";
inline constexpr char kPackTrailerMagic[] = "HLVXPAK1";
inline constexpr char kPackProductExe[] = "Norvale-Lockra.exe";

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
  LzmsLevel level = LzmsLevel::kNormal;     // the encoder's effort (not stored: any level decodes alike)
};

struct PackSummary {
  uint64_t files = 0, rawSize = 0, packedSize = 0, blocks = 0;
  double seconds = 0;
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
struct PackageInfo {
  uint64_t offset = 0, length = 0, trailerOffset = 0, fileSize = 0;
  uint32_t padding = 0;  // bytes between the trailer and the signed content's end (0..7)
  std::string version;
  uint64_t totalSize = 0;
  std::vector<PackEntryInfo> entries;
  std::vector<PackBlockInfo> blocks;
};

// Empty when the package format can carry the name; otherwise why not.
std::string CheckEntryName(const std::string& name);

// The product folder's files: the product executable first, then the rest by
// name (bytewise). False with a message on a missing folder, an unreadable
// entry or a name the format cannot carry.
bool CollectInputFiles(const std::filesystem::path& dir, std::vector<PackInput>* files, std::string* error);

// Header, entry table and block count: everything before the first block.
std::vector<uint8_t> EncodePackageHead(const std::string& version, const std::vector<PackInput>& files,
                                       uint64_t totalSize, uint32_t blockCount);

// File offset of the PE certificate-table entry, 0 when the bytes are not a PE file.
uint64_t PeCertificateEntryOffset(const std::vector<uint8_t>& head);

// Where the signed content of a file ends: the certificate table's start when
// the PE entry names a table that reaches the file's end, else the file size.
uint64_t PackSearchEnd(const std::filesystem::path& file, uint64_t fileSize);

// Builds the setup file: temp file, then rename; nothing is left on failure.
bool BuildSetup(const PackOptions& options, PackSummary* summary, std::string* error);

// Signs `in` into `out` with osslsigncode.
bool SignFile(const std::filesystem::path& in, const std::filesystem::path& out,
              const std::filesystem::path& cert, const std::filesystem::path& key, std::string* error);

// Finds the trailer and reads header, entry table and block list.
bool ReadPackageInfo(const std::filesystem::path& file, PackageInfo* info, std::string* error);

// Decodes every block and checks the stream against the entry sizes.
bool VerifyPackage(const std::filesystem::path& file, const PackageInfo& info, std::string* error);

// The command line: build, list, verify. Returns the exit code.
int RunPackCommand(const std::vector<std::string>& args);
