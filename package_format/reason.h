// Why a package (or part of one) is refused. The format code only classifies;
// each program turns a reason into its own message (the setup program into
// one of its French sentences, the packer into a line for the maker).
#pragma once

#include <cstdint>

enum class PackageReason : uint8_t {
  kNone = 0,            // sound
  kUnreadable,          // a read failed that the size said would succeed
  kNoTrailer,           // no "HLVXPAK1" 0 to 7 bytes before the signed content's end
  kTrailerMismatch,     // the trailer's offset and length are not exactly the bytes before it
  kHeaderMagic,         // no "HLVX" where the trailer says the package starts
  kHeaderFormat,        // a format version other than 1
  kVersionTooLong,      // a version of 64 bytes or more
  kHeaderCut,           // the header (or the entry count) runs into the trailer
  kEntryCountTooLarge,  // more entries than the bytes up to the trailer can hold
  kTableCut,            // the entry table or the block count runs into the trailer
  kBlockCountTooLarge,  // more blocks than the bytes up to the trailer can hold
  kBlockCut,            // a block's header or compressed bytes run into the trailer
  kSectionForeign,      // bytes after the last block that are not an integrity section
  kSectionVersion,      // a section version other than 1, 2 and 3
  kSectionShape,        // a section that does not describe the package's blocks
  kSectionChecksum,     // the section's own checksum does not match
  kSectionSettings,     // packer settings other than a known level and zeros
  kSectionBlockSizes,   // a block's sizes differ from the section's
  kSectionSignature,    // a version 3 section without the uninstaller's signature section
                        // before it, or a signature section not ending where a version 3
                        // section begins
  kHeadChecksum,        // header and entry table differ from what was packed
};
