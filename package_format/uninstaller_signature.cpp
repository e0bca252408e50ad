// The uninstaller's signature section. "uninstall.exe" is the setup file's
// image (its first P bytes, P the package offset); the Authenticode hash of
// a PE file leaves out its checksum field, its certificate-table entry and
// the table itself, so a table made for the bare stub signs that image too.
// When the packer signs, it signs the stub alone and stores the table here;
// the setup program writes the image, zero bytes up to the next multiple of
// 8, then the table, and points the certificate-table entry at it.
//
// The section lies between the last block and the integrity section, whose
// closing checksum covers it (integrity section version 3). All integers
// little-endian, no padding:
//
//   offset  size  field
//   0       8     magic "HLVXUSIG"
//   8       4     section version, 1
//   12      4     table size T: a multiple of 8, from 8 to 1 MiB
//   16      8     image size P: the bytes the table was made for, which must
//                 equal the package offset (the stub's size)
//   24      T     the certificate table as the signer wrote it: WIN_CERTIFICATE
//                 records, the first {length, revision 0x0200, type 2
//                 (PKCS#7 signed data)} with a length of 8 to T
//
// The section is 24 + T bytes. The table goes at P rounded up to 8, which
// with T must stay below 4 GiB (the entry's fields are 32-bit). A section
// that breaks a rule is not used: the uninstaller is then written unsigned.
#include "package_format/uninstaller_signature.h"

#include <cstring>

#include "package_format/little_endian.h"

namespace {

constexpr uint32_t kSectionVersion = 1;

}  // namespace

std::vector<uint8_t> EncodeUninstallerSignature(uint64_t imageSize, const uint8_t* table,
                                                uint32_t tableSize) {
  std::vector<uint8_t> out(kUninstallerSignatureMagic, kUninstallerSignatureMagic + 8);
  PutLe(&out, kSectionVersion, 4);
  PutLe(&out, tableSize, 4);
  PutLe(&out, imageSize, 8);
  out.insert(out.end(), table, table + tableSize);
  return out;
}

std::string ParseUninstallerSignature(const uint8_t* bytes, size_t size, UninstallerSignature* signature) {
  *signature = UninstallerSignature{};
  if (size < kUninstallerSignatureHeadSize || memcmp(bytes, kUninstallerSignatureMagic, 8) != 0)
    return "not an uninstaller signature section";
  if (GetLe(bytes + 8, 4) != kSectionVersion) return "an unknown section version";
  const uint64_t tableSize = GetLe(bytes + 12, 4), imageSize = GetLe(bytes + 16, 8);
  if (tableSize != size - kUninstallerSignatureHeadSize) return "a table size that is not the section's";
  if (tableSize < 8 || tableSize > kUninstallerSignatureMaxTable || tableSize % 8 != 0)
    return "a table size that is not a multiple of 8 from 8 to 1 MiB";
  const uint64_t tableOffset = (imageSize + 7) / 8 * 8;
  if (imageSize == 0 || imageSize > UINT32_MAX || tableOffset + tableSize > UINT32_MAX)
    return "a table that would end beyond 4 GiB";
  const uint8_t* table = bytes + kUninstallerSignatureHeadSize;
  const uint64_t length = GetLe(table, 4);
  if (length < 8 || length > tableSize || GetLe(table + 4, 2) != 0x0200 || GetLe(table + 6, 2) != 2)
    return "a first certificate that is not PKCS#7 signed data within the table";
  signature->imageSize = imageSize;
  signature->tableOffset = static_cast<uint32_t>(tableOffset);
  signature->tableSize = static_cast<uint32_t>(tableSize);
  signature->table = table;
  return {};
}

bool LocatePeFields(const uint8_t* head, size_t size, uint64_t* checksumOffset, uint64_t* entryOffset) {
  if (size < 64 || head[0] != 'M' || head[1] != 'Z') return false;
  const uint64_t pe = GetLe(head + 60, 4);
  if (pe == 0 || pe > size || size - pe < 26 || memcmp(head + pe, "PE\0\0", 4) != 0) return false;
  const uint64_t optional = pe + 24;
  const uint64_t entry = optional + (GetLe(head + optional, 2) == 0x20B ? 112 : 96) + 32;
  if (entry + 8 > size) return false;
  *checksumOffset = optional + 64;
  *entryOffset = entry;
  return true;
}

void PeChecksumUpdate(PeChecksum* state, const uint8_t* bytes, size_t size) {
  state->length += size;
  size_t i = 0;
  if (state->pending >= 0 && size > 0) {
    state->sum += static_cast<uint64_t>(state->pending) | static_cast<uint64_t>(bytes[0]) << 8;
    state->pending = -1;
    i = 1;
  }
  for (; i + 1 < size; i += 2) state->sum += bytes[i] | static_cast<uint64_t>(bytes[i + 1]) << 8;
  if (i < size) state->pending = bytes[i];
}

uint32_t PeChecksumEnd(const PeChecksum& state) {
  uint64_t sum = state.sum + (state.pending >= 0 ? static_cast<uint64_t>(state.pending) : 0);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + state.length);
}
