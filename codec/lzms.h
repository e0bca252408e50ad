// Portable LZMS codec and the Compression API's buffered container.
// No platform types: used by the setup program (decoding) and by the packer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Raw LZMS stream -> exactly outSize bytes. False on any malformed input; it
// never reads or writes outside the two buffers, whatever the input.
bool LzmsDecompress(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

// How hard the encoder searches. Every level writes an ordinary stream that
// any LZMS decoder restores; kMax is smaller and about ten times slower.
enum class LzmsLevel { kNormal, kMax };

// Raw LZMS stream of `in` (at most 2 GiB - 1; the packer's blocks are 32 MiB
// at most). Decodable by LzmsDecompress given inSize, and by Windows' own
// decoder. Memory, at every level: about 9 bytes per input byte (a binary
// tree of two links per position, and the filtered copy of the input) plus at
// most 8 MiB of hash tables and parse state.
std::vector<uint8_t> LzmsCompress(const uint8_t* in, size_t inSize, LzmsLevel level = LzmsLevel::kNormal);

// Buffered container (24-byte header, then chunks). Same contract as the
// Compression API's Decompress for buffered LZMS: true when the whole buffer
// decoded, with *actualSize the uncompressed size written to out.
bool LzmsBufferedDecompress(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                            size_t* actualSize);

// Told by a decoder working for a consumer on another thread that the first
// `decoded` bytes of the output hold their decoded values, and that it is
// about to write up to `need` (exclusive). Returns how far the decoder may
// write from then on: at least `need` (waiting until it can be given), or 0,
// which stops the decoder (it then fails). The decoder writes nothing beyond
// what it was given, so the consumer may still be preparing the memory there.
using LzmsProgressFn = size_t (*)(void* context, size_t decoded, size_t need);

// LzmsBufferedDecompress for a consumer that writes the output out while it
// is decoded: `progress` is called as the bytes come (and at the end of every
// chunk), and the x86 translation is left in place, for the consumer to undo
// on its own copy with the LzmsFinisher of finisher.h (the output must stay
// untouched until the decoder returns: later matches copy from it).
bool LzmsBufferedDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, size_t* actualSize,
                        LzmsProgressFn progress, void* context);

// Buffered container of `in`, cut into chunks of chunkSize bytes (0: one chunk
// holding everything).
std::vector<uint8_t> LzmsBufferedCompress(const uint8_t* in, size_t inSize, size_t chunkSize = 0,
                                          LzmsLevel level = LzmsLevel::kNormal);
