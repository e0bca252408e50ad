// Folders, files and a minimal stub for the packer tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/pack.h"

namespace fs = std::filesystem;

struct TempDir {
  TempDir() {
    static std::atomic<int> counter{0};
    path = fs::temp_directory_path() /
           ("norvale-pack-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

inline void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Text(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  uint32_t x = seed;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>("abcdefgh \n"[(x >> 16) % 10]);
  }
  return out;
}

// The smallest image the packer accepts as a stub: DOS header, PE signature,
// a PE32+ optional header whose certificate entry is zero.
inline std::vector<uint8_t> MinimalStub() {
  std::vector<uint8_t> image(1024, 0);
  image[0] = 'M', image[1] = 'Z', image[60] = 0x80;
  memcpy(&image[0x80], "PE\0\0", 4);
  image[0x80 + 24] = 0x0B, image[0x80 + 25] = 0x02;
  return image;
}

inline uint64_t Le(const std::vector<uint8_t>& bytes, size_t at, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<uint64_t>(bytes.at(at + i)) << (8 * i);
  return v;
}

// norvale-pack build with the usual flags; returns the exit code.
inline int Pack(const fs::path& stub, const fs::path& input, const fs::path& out,
                const std::string& version = "1.2.3", const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"build",        "--quiet",   "--stub", stub.string(), "--input",
                                   input.string(), "--version", version,  "--out",       out.string()};
  args.insert(args.end(), extra.begin(), extra.end());
  return RunPackCommand(args);
}

// A stub, a product folder holding the product executable, and an empty
// output folder, in a temporary folder of their own.
class PackFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stub = dir.path / "stub.exe";
    WriteBytes(stub, MinimalStub());
    input = dir.path / "in";
    WriteBytes(input / "Norvale-Lockra.exe", Text(5000, 1));
    out = dir.path / "out" / "setup.exe";
    fs::create_directories(out.parent_path());
  }

  TempDir dir;
  fs::path stub, input, out;
};
