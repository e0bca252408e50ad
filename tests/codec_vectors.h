// Buffers made by Windows' own Compression API (buffered LZMS) and the content
// each one must restore. Shared by the native and the Windows codec tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WindowsLzmsVector {
  const char* name;
  const char* bufferHex;
  std::vector<uint8_t> (*content)();
};

inline std::vector<uint8_t> HexBytes(const std::string& hex) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    v.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return v;
}

inline const WindowsLzmsVector kWindowsLzmsVectors[] = {
    {"4096 zero bytes", "0a51e5c01800da05001000000000000000100000000000000a000000ffaad0ff0000a03a4000",
     [] { return std::vector<uint8_t>(4096, 0); }},
    {"bytes 0..255 four times",
     "0a51e5c018002b05000400000000000000040000000000000e000000426bd0ff0000a08ad95a1a020100",
     [] {
       std::vector<uint8_t> v(1024);
       for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i);
       return v;
     }},
    {"deadbeefcafebabe 1024 times",
     "0a51e5c01800590500200000000000000020000000000000120000003813d0bf0000d074817ebebafecaefbeadde",
     [] {
       const uint8_t word[8] = {0xde, 0xad, 0xbe, 0xef, 0xca, 0xfe, 0xba, 0xbe};
       std::vector<uint8_t> v;
       for (int i = 0; i < 1024; ++i) v.insert(v.end(), word, word + 8);
       return v;
     }},
    {"16384 times A", "0a51e5c018005f05004000000000000000400000000000000a000000ffaad0ff0000a0ba4141",
     [] { return std::vector<uint8_t>(16384, 0x41); }},
    {"64 bytes i*7", "0a51e5c018004c05400000000000000040000000000000000e000000036bd066000000601506c60e0700",
     [] {
       std::vector<uint8_t> v(64);
       for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 7);
       return v;
     }},
};
