// The packer's checksums of whole blocks and of the content stream, from
// well-kept libraries: XXH64 from xxHash and SHA-256 from OpenSSL's
// libcrypto, which uses the processor's SHA instructions where it has them.
// Same values as codec/checksum.h (which the setup program keeps, as it
// depends on system DLLs only); the packer's tests hold them equal.
#pragma once

#include <cstddef>
#include <cstdint>

uint64_t PackXxh64(const uint8_t* data, size_t size);

// An XXH64 in progress, for bytes that come in pieces: Begin (false: out of
// memory), updates, then End, which releases it and gives the sum.
struct PackXxh64Stream {
  void* state = nullptr;
};

bool PackXxh64Begin(PackXxh64Stream* s);
void PackXxh64Update(PackXxh64Stream* s, const uint8_t* data, size_t size);
uint64_t PackXxh64End(PackXxh64Stream* s);

// A SHA-256 in progress. Begin, any number of updates, then End, which
// releases it (also when the caller gives up: End with a null digest) and
// says whether the library computed the digest (false: out of memory).
struct PackSha256 {
  void* context = nullptr;
};

bool PackSha256Begin(PackSha256* s);
void PackSha256Update(PackSha256* s, const uint8_t* data, size_t size);
bool PackSha256End(PackSha256* s, uint8_t digest[32]);
