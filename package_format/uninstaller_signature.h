// The uninstaller's signature: a certificate table made by the packer for
// the bare stub, stored in the package so that the setup program can write
// a signed "uninstall.exe" (uninstaller_signature.cpp describes the bytes).
// Portable: the packer and the setup program both read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kUninstallerSignatureMagic[] = "HLVXUSIG";
inline constexpr size_t kUninstallerSignatureHeadSize = 24;
// Far above any real certificate chain with a timestamp; a bound for readers.
inline constexpr uint32_t kUninstallerSignatureMaxTable = 1 << 20;

struct UninstallerSignature {
  uint64_t imageSize = 0;          // the uninstaller's bytes before the table's padding
  uint32_t tableOffset = 0;        // imageSize rounded up to 8: the certificate-table entry's offset
  uint32_t tableSize = 0;          // the entry's size
  const uint8_t* table = nullptr;  // tableSize bytes inside the parsed section
};

// The section for a certificate table made for an image of imageSize bytes.
std::vector<uint8_t> EncodeUninstallerSignature(uint64_t imageSize, const uint8_t* table, uint32_t tableSize);

// Reads the section in bytes[0, size). Empty when it is sound (a table that
// a PE file of this image size can carry); otherwise what is wrong.
std::string ParseUninstallerSignature(const uint8_t* bytes, size_t size, UninstallerSignature* signature);

// File offsets of the PE checksum field and of the certificate-table entry,
// read from the file's first bytes; false when they are not a PE header or
// do not hold those fields.
bool LocatePeFields(const uint8_t* head, size_t size, uint64_t* checksumOffset, uint64_t* entryOffset);

// The PE checksum, as signing tools set it: the 16-bit little-endian words
// of the file (its checksum field counted as zero) added with end-around
// carry, plus the file's length. Fed in pieces of any size, in file order.
struct PeChecksum {
  uint64_t sum = 0;
  uint64_t length = 0;
  int pending = -1;  // a byte waiting for its partner, or -1
};
void PeChecksumUpdate(PeChecksum* state, const uint8_t* bytes, size_t size);
uint32_t PeChecksumEnd(const PeChecksum& state);
