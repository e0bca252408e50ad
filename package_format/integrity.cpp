#include "package_format/integrity.h"

#include <cstring>

#include "codec/checksum.h"
#include "package_format/little_endian.h"

namespace {

constexpr char kSectionMagic[] = "HLVXSUMS";
constexpr uint32_t kSectionVersion = 2;       // the one written
constexpr uint32_t kSettingsLessVersion = 1;  // still read: no packer settings
constexpr uint32_t kSignatureVersion = 3;     // version 2 after the signature section
constexpr int kSettingsSize = 8;

}  // namespace

uint64_t IntegritySectionSize(uint32_t version, uint64_t blocks) {
  if (version != kSectionVersion && version != kSettingsLessVersion && version != kSignatureVersion) return 0;
  return 64 + 24 * blocks + (version == kSettingsLessVersion ? 0 : kSettingsSize);
}

PackageReason ParseIntegritySection(const uint8_t* bytes, size_t size,
                                    const std::vector<PackageBlock>& blocks, PackageIntegrity* integrity,
                                    size_t* badBlock, size_t sectionStart) {
  *integrity = PackageIntegrity{};
  // The signature section's bytes, then the integrity section's; the
  // closing checksum covers both.
  const uint8_t* all = bytes;
  const size_t allSize = size;
  if (sectionStart > size) return PackageReason::kSectionSignature;
  bytes += sectionStart;
  size -= sectionStart;
  if (size < 16 || memcmp(bytes, kSectionMagic, 8) != 0) return PackageReason::kSectionForeign;
  const uint32_t version = static_cast<uint32_t>(GetLe(bytes + 8, 4));
  const uint64_t expected = IntegritySectionSize(version, blocks.size());
  if (expected == 0) return PackageReason::kSectionVersion;
  if ((version == kSignatureVersion) != (sectionStart > 0)) return PackageReason::kSectionSignature;
  if (GetLe(bytes + 12, 4) != blocks.size() || size != expected) return PackageReason::kSectionShape;
  if (Xxh64(all, allSize - 8) != GetLe(bytes + size - 8, 8)) return PackageReason::kSectionChecksum;
  const size_t settings = 56 + 24 * blocks.size();
  if (version != kSettingsLessVersion) {
    const uint64_t value = GetLe(bytes + settings, kSettingsSize);
    if (value > 1) return PackageReason::kSectionSettings;  // a level above max, or other settings
    integrity->level = static_cast<uint8_t>(value);
  }
  integrity->headSum = GetLe(bytes + 16, 8);
  for (size_t b = 0; b < blocks.size(); ++b) {
    const uint8_t* p = bytes + 24 + 24 * b;
    const PackageBlockSums sums{static_cast<uint32_t>(GetLe(p, 4)), static_cast<uint32_t>(GetLe(p + 4, 4)),
                                GetLe(p + 16, 8), GetLe(p + 8, 8)};
    if (sums.rawSize != blocks[b].rawSize || sums.packedSize != blocks[b].packedSize) {
      *badBlock = b;
      integrity->blocks.clear();
      return PackageReason::kSectionBlockSizes;
    }
    integrity->blocks.push_back(sums);
  }
  memcpy(integrity->streamSha256, bytes + 24 + 24 * blocks.size(), 32);
  integrity->signature.assign(all, all + sectionStart);
  integrity->present = true;
  return PackageReason::kNone;
}

std::vector<uint8_t> EncodeIntegritySection(uint64_t headSum, const std::vector<PackageBlockSums>& blocks,
                                            const uint8_t streamSha256[32], uint8_t level,
                                            const std::vector<uint8_t>& signature) {
  std::vector<uint8_t> out(kSectionMagic, kSectionMagic + 8);
  PutLe(&out, signature.empty() ? kSectionVersion : kSignatureVersion, 4);
  PutLe(&out, blocks.size(), 4);
  PutLe(&out, headSum, 8);
  for (const PackageBlockSums& block : blocks) {
    PutLe(&out, block.rawSize, 4);
    PutLe(&out, block.packedSize, 4);
    PutLe(&out, block.packedSum, 8);
    PutLe(&out, block.sum, 8);
  }
  out.insert(out.end(), streamSha256, streamSha256 + 32);
  PutLe(&out, level, kSettingsSize);
  Xxh64State sum;
  Xxh64Begin(&sum);
  if (!signature.empty()) Xxh64Update(&sum, signature.data(), signature.size());
  Xxh64Update(&sum, out.data(), out.size());
  PutLe(&out, Xxh64End(&sum), 8);
  return out;
}
