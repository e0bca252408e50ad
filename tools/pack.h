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
#include "package_format/layout.h"
#include "package_format/little_endian.h"

// The package format itself is package_format/'s, shared with the setup
// program; these names are the packer's for it.
inline constexpr uint64_t kPackBlockSize = kPackageBlockLimit;
inline constexpr uint64_t kPackTrailerSize = kPackageTrailerSize;
inline constexpr const char* kPackTrailerMagic = kPackageTrailerMagic;
inline constexpr char kPackProductExe[] = "Norvale-Lockra.exe";

inline void PackPutLe(std::vector<uint8_t>* out, uint64_t value, int bytes) { PutLe(out, value, bytes); }
inline uint64_t PackGetLe(const uint8_t* p, int bytes) { return GetLe(p, bytes); }

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
using PackEntryInfo = PackageEntryRecord;
using PackBlockInfo = PackageBlock;
using PackBlockSum = PackageBlockSums;
using PackIntegrity = PackageIntegrity;
using PackageInfo = PackageLayout;

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
// level; headSum is the XXH64 of EncodePackageHead's bytes. signature: the
// uninstaller's signature section written between the last block and it
// (then version 3, its checksum covering it), or empty.
std::vector<uint8_t> EncodeIntegritySection(uint64_t headSum, const std::vector<PackBlockSum>& blocks,
                                            const uint8_t streamSha256[32], LzmsLevel level,
                                            const std::vector<uint8_t>& signature = {});

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

// The temporary files of Make beside the output: the bare stub and its signed copy.
std::filesystem::path UninstallerStubTemp(const std::filesystem::path& out, bool signedCopy);

// The uninstaller's signature (tools/pack_uninstaller.cpp). Make: signs the
// bare stub with the options' certificate and returns the package section
// that stores its table. Check: empty when the section is sound and its
// digest is the image's Authenticode hash; otherwise what is wrong. Report:
// the line that list and verify print for a package, false when the section
// does not belong to the file's stub (then the line says why).
bool MakeUninstallerSignature(const PackOptions& options, const std::vector<uint8_t>& stub,
                              std::vector<uint8_t>* section, std::string* error);
std::string CheckUninstallerSignature(const std::vector<uint8_t>& section, const std::vector<uint8_t>& image);
bool ReportUninstallerSignature(const std::filesystem::path& file, const PackageInfo& info,
                                std::string* line);

// Finds the trailer and reads header, entry table, block list and integrity
// section; false with the reason in words.
bool ReadPackageInfo(const std::filesystem::path& file, PackageInfo* info, std::string* error);

// The package's head against its integrity section's checksum (kNone when
// there is no section); otherwise the reason, with *error in words.
PackageReason CheckHeadSum(const std::filesystem::path& file, const PackageInfo& info, std::string* error);

// Decodes every block and checks the stream against the entry sizes and,
// when the package has one, every checksum of its integrity section.
bool VerifyPackage(const std::filesystem::path& file, const PackageInfo& info, std::string* error);

// The command line: build, list, verify. Returns the exit code.
int RunPackCommand(const std::vector<std::string>& args);
