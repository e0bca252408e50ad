// Crafting setup files for the package tests: an image part, the package
// (header, entry table, blocks in the buffered container) and the trailer.
// Blocks are stored chunks unless a test hands in its own container bytes, so
// the layout of every byte stays under the test's control.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/state.h"
#include "codec/checksum.h"
#include "package/package.h"
#include "support/test_support.h"

struct TestEntry {
  std::string name;
  std::vector<uint8_t> content;
};

struct TestBlock {
  uint32_t rawSize;
  std::vector<uint8_t> packed;
};

inline void PutLe(std::vector<uint8_t>* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline uint8_t ContainerCheckByte(const uint8_t* header) {
  uint32_t crc = 0xFFFFFFFF;
  for (int i = 0; i < 24; ++i) {
    if (i == 6) continue;
    crc ^= header[i];
    for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return static_cast<uint8_t>(~crc);
}

// Buffered LZMS container whose chunks are stored as is (compressed size ==
// chunk size), which the format allows for incompressible data.
inline std::vector<uint8_t> StoredContainer(const uint8_t* data, size_t n, size_t chunk) {
  std::vector<uint8_t> out = {0x0A, 0x51, 0xE5, 0xC0, 0x18, 0x00, 0x00, 0x05};
  PutLe(&out, n, 8);
  PutLe(&out, chunk, 8);
  out[6] = ContainerCheckByte(out.data());
  for (size_t at = 0; at < n; at += chunk) {
    const size_t piece = n - at < chunk ? n - at : chunk;
    PutLe(&out, piece, 4);
    out.insert(out.end(), data + at, data + at + piece);
  }
  return out;
}

inline std::vector<uint8_t> Concatenate(const std::vector<TestEntry>& entries) {
  std::vector<uint8_t> stream;
  for (const TestEntry& e : entries) stream.insert(stream.end(), e.content.begin(), e.content.end());
  return stream;
}

// The stream cut into blocks of the given raw sizes (the last takes the rest).
inline std::vector<TestBlock> StoredBlocks(const std::vector<uint8_t>& stream, std::vector<size_t> cuts,
                                           size_t chunk = 65536) {
  std::vector<TestBlock> blocks;
  size_t at = 0;
  for (size_t i = 0; at < stream.size(); ++i) {
    size_t n = i < cuts.size() ? cuts[i] : stream.size() - at;
    if (n > stream.size() - at) n = stream.size() - at;
    blocks.push_back(TestBlock{static_cast<uint32_t>(n), StoredContainer(stream.data() + at, n, chunk)});
    at += n;
  }
  return blocks;
}

inline std::vector<uint8_t> PackageBytes(const std::string& version, const std::vector<TestEntry>& entries,
                                         const std::vector<TestBlock>& blocks) {
  std::vector<uint8_t> out = {'H', 'L', 'V', 'X'};
  PutLe(&out, 1, 4);
  PutLe(&out, version.size(), 4);
  out.insert(out.end(), version.begin(), version.end());
  uint64_t total = 0;
  for (const TestEntry& e : entries) total += e.content.size();
  PutLe(&out, total, 8);
  PutLe(&out, entries.size(), 4);
  for (const TestEntry& e : entries) {
    PutLe(&out, e.name.size(), 2);
    out.insert(out.end(), e.name.begin(), e.name.end());
    PutLe(&out, e.content.size(), 8);
  }
  PutLe(&out, blocks.size(), 4);
  for (const TestBlock& b : blocks) {
    PutLe(&out, b.rawSize, 4);
    PutLe(&out, b.packed.size(), 4);
    out.insert(out.end(), b.packed.begin(), b.packed.end());
  }
  return out;
}

// The integrity section for a package made by PackageBytes from these blocks
// and their stream (the stream hash is left zero: the setup program does
// not read it), with this version field and these packer settings (by
// default those of the current version at level normal; none lays the
// section out as version 1 does). Optional sections (written between the
// last block and it, with version 3) are covered by its checksum.
inline std::vector<uint8_t> IntegritySection(const std::vector<uint8_t>& package,
                                             const std::vector<TestBlock>& blocks,
                                             const std::vector<uint8_t>& stream, uint32_t version = 2,
                                             const std::vector<uint8_t>& settings = std::vector<uint8_t>(8,
                                                                                                         0),
                                             const std::vector<uint8_t>& optionals = {}) {
  size_t head = package.size(), at = 0;
  for (const TestBlock& b : blocks) head -= 8 + b.packed.size();
  std::vector<uint8_t> out = {'H', 'L', 'V', 'X', 'S', 'U', 'M', 'S'};
  PutLe(&out, version, 4);
  PutLe(&out, blocks.size(), 4);
  PutLe(&out, Xxh64(package.data(), head), 8);
  for (const TestBlock& b : blocks) {
    PutLe(&out, b.rawSize, 4);
    PutLe(&out, b.packed.size(), 4);
    PutLe(&out, Xxh64(b.packed.data(), b.packed.size()), 8);
    PutLe(&out, Xxh64(stream.data() + at, b.rawSize), 8);
    at += b.rawSize;
  }
  out.resize(out.size() + 32);
  out.insert(out.end(), settings.begin(), settings.end());
  std::vector<uint8_t> covered = optionals;
  covered.insert(covered.end(), out.begin(), out.end());
  PutLe(&out, Xxh64(covered.data(), covered.size()), 8);
  return out;
}

// image + package + trailer, laid out with plain copies (GCC 12 reports a
// false overflow when vector inserts of this shape are inlined).
inline std::vector<uint8_t> SetupBytes(const std::vector<uint8_t>& image,
                                       const std::vector<uint8_t>& package) {
  std::vector<uint8_t> file(image.size() + package.size() + 24);
  uint8_t* at = file.data();
  if (!image.empty()) memcpy(at, image.data(), image.size());
  at += image.size();
  if (!package.empty()) memcpy(at, package.data(), package.size());
  at += package.size();
  const uint64_t offset = image.size(), length = package.size();
  memcpy(at, &offset, 8);
  memcpy(at + 8, &length, 8);
  memcpy(at + 16, "HLVXPAK1", 8);
  return file;
}

// Deterministic content: text-like, with a per-file seed.
inline std::vector<uint8_t> Content(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>('a' + (x >> 16) % 26);
  }
  return bytes;
}

inline std::wstring ErrorText() {
  std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
  return InstallerState.errorText;
}

inline std::wstring StatusText() {
  std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
  return InstallerState.statusText;
}

// Windows path of a repository file (drive Z: under Wine).
inline std::wstring SourcePath(const std::wstring& relative) {
  std::string root = NORVALE_SOURCE_DIR;
  std::wstring path = L"Z:";
  for (char c : root) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return path + L"\\" + relative;
}

inline const wchar_t kDamaged[] = L"Installateur endommagé : téléchargez-le de nouveau.";
inline const wchar_t kDamagedOrFull[] =
    L"Installateur endommagé ou disque plein : téléchargez-le de nouveau.";
