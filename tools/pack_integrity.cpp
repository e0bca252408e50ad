// The integrity section: what lets a reader tell a whole package from a
// damaged one, since LZMS itself carries no checksum (a changed byte may
// decode, without error, to other bytes) and the entry table none either.
//
// It lies between the last block and the trailer, where a reader that walks
// only the header, the table and the blocks never looks, so such readers
// still read these packages, and a package without it (an older one, or one
// made by another tool) ends its last block right at the trailer. All
// integers little-endian, no padding; B is the block count of the package:
//
//   offset    size  field
//   0         8     magic "HLVXSUMS"
//   8         4     section version, 2 (or 1, below; any other value is
//                   damage: the setup program only ever reads the package
//                   packed with it)
//   12        4     block count, equal to B
//   16        8     XXH64 (seed 0) of the package's first bytes: header,
//                   entry table and block count
//   24        24*B  per block: raw size (4), compressed size (4), both equal
//                   to the block's own, XXH64 of its compressed bytes (8),
//                   XXH64 of its raw bytes (8)
//   24+24B    32    SHA-256 of the content stream (every block's raw bytes)
//   56+24B    8     packer settings: byte 0 the level the blocks were
//                   compressed at (0 normal, 1 max), bytes 1 to 7 zero; any
//                   other value is damage
//   64+24B    8     XXH64 of the section's bytes before this field
//
// The section is 72 + 24*B bytes and ends where the trailer begins. Version
// 1, which earlier packers wrote, is the same without the packer settings
// (64 + 24*B bytes) and reads alike, with no level recorded. Every level
// decodes alike, so no reader needs the level to install; it is recorded so
// that list and verify can tell how a package was made (whether a release
// was packed at max). Settings that a later packer might add would come with
// a new section version, hence the zero bytes are checked rather than
// skipped.
//
// The setup program (package/integrity.cpp) and verify check the head, the
// section's own checksum, the settings and both checksums of every block:
// the raw one decides whether the files are whole, the compressed one
// catches a changed byte that the decoder happens never to read (still a
// damaged copy). verify also checks the SHA-256.
#include <cstring>

#include "codec/checksum.h"
#include "tools/pack.h"

namespace {

constexpr char kSectionMagic[] = "HLVXSUMS";
constexpr uint32_t kSectionVersion = 2;       // the one written
constexpr uint32_t kSettingsLessVersion = 1;  // still read: no packer settings
constexpr int kSettingsSize = 8;

}  // namespace

std::vector<uint8_t> EncodeIntegritySection(uint64_t headSum, const std::vector<PackBlockSum>& blocks,
                                            const uint8_t streamSha256[32], LzmsLevel level) {
  std::vector<uint8_t> out(kSectionMagic, kSectionMagic + 8);
  PackPutLe(&out, kSectionVersion, 4);
  PackPutLe(&out, blocks.size(), 4);
  PackPutLe(&out, headSum, 8);
  for (const PackBlockSum& block : blocks) {
    PackPutLe(&out, block.rawSize, 4);
    PackPutLe(&out, block.packedSize, 4);
    PackPutLe(&out, block.packedSum, 8);
    PackPutLe(&out, block.sum, 8);
  }
  out.insert(out.end(), streamSha256, streamSha256 + 32);
  PackPutLe(&out, level == LzmsLevel::kMax ? 1 : 0, kSettingsSize);
  PackPutLe(&out, Xxh64(out.data(), out.size()), 8);
  return out;
}

uint64_t LargestIntegritySection(uint64_t blockCount) { return 56 + 24 * blockCount + kSettingsSize + 8; }

std::string ParseIntegritySection(const std::vector<uint8_t>& bytes, const std::vector<PackBlockInfo>& blocks,
                                  PackIntegrity* integrity) {
  *integrity = PackIntegrity{};
  if (bytes.size() < 16 || memcmp(bytes.data(), kSectionMagic, 8) != 0)
    return std::to_string(bytes.size()) + " unexpected bytes after the last block";
  const uint64_t version = PackGetLe(&bytes[8], 4);
  if (version != kSectionVersion && version != kSettingsLessVersion)
    return "the integrity section has an unknown version";
  const uint64_t settings = 56 + 24 * static_cast<uint64_t>(blocks.size());
  const uint64_t expected = settings + (version == kSectionVersion ? kSettingsSize : 0) + 8;
  if (PackGetLe(&bytes[12], 4) != blocks.size() || bytes.size() != expected)
    return "the integrity section does not describe the package's " + std::to_string(blocks.size()) +
           " blocks";
  if (Xxh64(bytes.data(), bytes.size() - 8) != PackGetLe(&bytes[bytes.size() - 8], 8))
    return "the integrity section is damaged (its own checksum does not match)";
  if (version == kSectionVersion) {
    const uint64_t value = PackGetLe(&bytes[settings], kSettingsSize);
    if (value > 1) return "the integrity section is damaged (its packer settings are not valid)";
    integrity->level = value == 1 ? LzmsLevel::kMax : LzmsLevel::kNormal;
  }
  integrity->present = true;
  integrity->headSum = PackGetLe(&bytes[16], 8);
  for (size_t b = 0; b < blocks.size(); ++b) {
    const uint8_t* p = &bytes[24 + 24 * b];
    const PackBlockSum sum{static_cast<uint32_t>(PackGetLe(p, 4)), static_cast<uint32_t>(PackGetLe(p + 4, 4)),
                           PackGetLe(p + 16, 8), PackGetLe(p + 8, 8)};
    if (sum.rawSize != blocks[b].rawSize || sum.packedSize != blocks[b].packedSize)
      return "block " + std::to_string(b + 1) + "/" + std::to_string(blocks.size()) +
             ": its sizes differ from the integrity section's";
    integrity->blocks.push_back(sum);
  }
  memcpy(integrity->streamSha256, &bytes[24 + 24 * blocks.size()], 32);
  return {};
}
