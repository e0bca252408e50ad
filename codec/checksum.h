// Checksums of the package's integrity section, shared by the packer and the
// setup program (portable, no platform types).
//
// XXH64 (seed 0) guards each block and the package head: 64 bits against
// random damage at several GB/s in plain C++, far below what decoding costs.
// SHA-256 of the whole content stream lets a reader compare a package with a
// published value; only the packer writes and verifies it.
#pragma once

#include <cstddef>
#include <cstdint>

struct Xxh64State {
  uint64_t lanes[4];
  uint64_t length = 0;
  uint8_t pending[32];
  size_t pendingSize = 0;
};

void Xxh64Begin(Xxh64State* s);
void Xxh64Update(Xxh64State* s, const uint8_t* data, size_t size);
uint64_t Xxh64End(const Xxh64State* s);
uint64_t Xxh64(const uint8_t* data, size_t size);

struct Sha256State {
  uint32_t h[8];
  uint64_t length = 0;
  uint8_t pending[64];
  size_t pendingSize = 0;
};

void Sha256Begin(Sha256State* s);
void Sha256Update(Sha256State* s, const uint8_t* data, size_t size);
void Sha256End(Sha256State* s, uint8_t digest[32]);
