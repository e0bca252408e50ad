// The integrity section as the packer writes it: the format, and its reader,
// are package_format/integrity.h's; here the packer's level becomes the
// byte that records it.
#include "package_format/integrity.h"
#include "tools/pack.h"

std::vector<uint8_t> EncodeIntegritySection(uint64_t headSum, const std::vector<PackBlockSum>& blocks,
                                            const uint8_t streamSha256[32], LzmsLevel level,
                                            const std::vector<uint8_t>& signature) {
  return EncodeIntegritySection(headSum, blocks, streamSha256, static_cast<uint8_t>(level == LzmsLevel::kMax),
                                signature);
}
