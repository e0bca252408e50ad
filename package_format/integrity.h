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
//   8         4     section version, 2 (or 1 or 3, below; any other value
//                   is damage: the setup program only ever reads the package
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
// Version 3 is version 2 with the uninstaller's signature section
// (uninstaller_signature.h) between the last block and it, written only by
// a signing build: the integrity section still ends at the trailer, and its
// closing XXH64 covers every byte from the end of the last block up to that
// field, the signature section included. Version 3 goes with the signature
// section and only with it. A package without one keeps version 2, so setup
// programs made before version 3 still read it; they refuse a version 3
// package as damaged.
//
// Both programs check the head, the section's own checksum, the settings
// and both checksums of every block: the raw one decides whether the files
// are whole, the compressed one catches a changed byte that the decoder
// happens never to read (still a damaged copy). Only the packer's verify
// checks the SHA-256.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "package_format/layout.h"

// Bytes of a section of `version` for `blocks` blocks (0 for another version).
uint64_t IntegritySectionSize(uint32_t version, uint64_t blocks);

// The bytes between the last block and the trailer of a package with these
// blocks: the integrity section starting at sectionStart, after the
// signature section when sectionStart is not 0 (then kept in
// integrity->signature). kNone when it is sound and agrees with them;
// *badBlock names the block whose sizes differ.
PackageReason ParseIntegritySection(const uint8_t* bytes, size_t size,
                                    const std::vector<PackageBlock>& blocks, PackageIntegrity* integrity,
                                    size_t* badBlock, size_t sectionStart = 0);

// The section of a package with these blocks, packed at this level (0
// normal, 1 max); headSum is the XXH64 of EncodePackageHead's bytes. With a
// signature section (written just before it) the section is version 3 and
// its checksum covers that section too.
std::vector<uint8_t> EncodeIntegritySection(uint64_t headSum, const std::vector<PackageBlockSums>& blocks,
                                            const uint8_t streamSha256[32], uint8_t level,
                                            const std::vector<uint8_t>& signature = {});
