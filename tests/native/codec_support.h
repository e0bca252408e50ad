// Shared helpers of the codec tests: wimlib as the reference codec, and
// deterministic sample data of the kinds the packer meets.
#pragma once

#include <wimlib.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Raw LZMS stream made by wimlib (empty when it declines, e.g. tiny inputs).
inline Bytes WimCompress(const Bytes& in) {
  wimlib_compressor* c = nullptr;
  if (in.empty() || wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, in.size(), 0, &c) != 0) return {};
  Bytes out(in.size() + in.size() / 8 + 1024);
  const size_t n = wimlib_compress(in.data(), in.size(), out.data(), out.size(), c);
  wimlib_free_compressor(c);
  out.resize(n);
  return out;
}

// wimlib's decoding of a raw LZMS stream into exactly `size` bytes.
inline bool WimDecompress(const Bytes& in, size_t size, Bytes* out) {
  wimlib_decompressor* d = nullptr;
  if (wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, size, &d) != 0) return false;
  out->assign(size, 0);
  const bool ok = wimlib_decompress(in.data(), in.size(), out->data(), size, d) == 0;
  wimlib_free_decompressor(d);
  return ok;
}

inline Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Word salad with repeats near and far, like source text or logs.
inline Bytes TextBytes(size_t n, uint32_t seed) {
  static const char* words[] = {"installer", "the", "of", "Norvale", "vault", "password", "a",       "and",
                                "folder",    "to",  "in", "window",  "file",  "é",        "fichier", "\n"};
  std::mt19937 rng(seed);
  Bytes v;
  while (v.size() < n) {
    std::string w = words[rng() % 16];
    if (rng() % 7 == 0) w += std::to_string(rng() % 1000);
    v.insert(v.end(), w.begin(), w.end());
    v.push_back(rng() % 9 == 0 ? ',' : ' ');
  }
  v.resize(n);
  return v;
}

// 16-bit samples of a slow wave: what delta matches exist for.
inline Bytes RampBytes(size_t n) {
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t sample = static_cast<uint32_t>((i / 2) * 3 + (i / 4096) * 17);
    v[i] = static_cast<uint8_t>(i % 2 ? sample >> 8 : sample);
  }
  return v;
}

inline Bytes ReadFileBytes(const std::string& path, size_t limit = SIZE_MAX) {
  Bytes v;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buf[65536];
    size_t n;
    while (v.size() < limit && (n = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
    std::fclose(f);
  }
  if (v.size() > limit) v.resize(limit);
  return v;
}

// x86-64 Windows binaries that the prerequisites install (mingw-w64 runtime,
// Wine's own DLLs); the first one found, else empty.
inline Bytes SomePeFile(size_t limit = SIZE_MAX) {
  static const char* candidates[] = {
      "/usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll",
      "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/comctl32.dll",
      "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll",
      "/usr/x86_64-w64-mingw32/lib/zlib1.dll",
  };
  for (const char* path : candidates) {
    Bytes v = ReadFileBytes(path, limit);
    if (!v.empty()) return v;
  }
  return {};
}
