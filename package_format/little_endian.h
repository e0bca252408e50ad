// Integers inside the package: little-endian, packed without alignment.
#pragma once

#include <cstdint>
#include <vector>

inline uint64_t GetLe(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  return value;
}

inline void PutLe(std::vector<uint8_t>* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}
