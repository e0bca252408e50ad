// Writes the seed corpora of the package fuzz targets from the committed
// fixture setup files (tests/fixtures/*.bin: one packed by norvale-pack, one
// whose blocks came from an independent encoder). Each real package is kept
// whole in its head (names, sizes, version) and integrity section, while
// every block's compressed bytes are cut to a few, with the section's sizes
// and checksums made to agree again, so that the fuzzer spends its time on
// the bytes that are parsed rather than on compressed data.
//
//   clang++ -std=c++20 -I. fuzz/make_package_seeds.cpp package_format/*.cpp \
//       codec/xxh64.cpp -o /tmp/seeds && /tmp/seeds
//
// run from the repository's root.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/checksum.h"
#include "package_format/integrity.h"
#include "package_format/layout.h"
#include "package_format/little_endian.h"
#include "package_format/uninstaller_signature.h"

namespace {

std::vector<uint8_t> Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  printf("%s: %zu bytes\n", path.c_str(), bytes.size());
}

// The section as the integrity fuzzer takes it: flags, block count, block
// sizes, then the section's bytes.
std::vector<uint8_t> IntegrityInput(const std::vector<PackageBlock>& blocks,
                                    const std::vector<uint8_t>& section) {
  std::vector<uint8_t> out = {0, static_cast<uint8_t>(blocks.size())};
  for (const PackageBlock& block : blocks) {
    PutLe(&out, block.rawSize, 4);
    PutLe(&out, block.packedSize, 4);
  }
  out.insert(out.end(), section.begin(), section.end());
  return out;
}

void MakeSeeds(const std::string& name, const std::vector<uint8_t>& file) {
  PackageLayout layout;
  const ByteSource source = MemorySource(file.data(), file.size());
  if (ReadPackageLayout(source, &layout) != PackageReason::kNone) {
    fprintf(stderr, "%s: not a sound package\n", name.c_str());
    return;
  }
  // Head as it is, then each block cut to 16 compressed bytes at most.
  std::vector<uint8_t> package(file.begin() + layout.offset, file.begin() + layout.headEnd);
  std::vector<PackageBlock> blocks;
  std::vector<PackageBlockSums> sums;
  for (PackageBlock block : layout.blocks) {
    const uint32_t kept = block.packedSize < 16 ? block.packedSize : 16;
    const uint8_t* bytes = &file[block.dataOffset];
    const std::vector<uint8_t> header = EncodeBlockHeader(block.rawSize, kept);
    package.insert(package.end(), header.begin(), header.end());
    package.insert(package.end(), bytes, bytes + kept);
    block.packedSize = kept;
    blocks.push_back(block);
    const PackageBlockSums* was =
        layout.integrity.present ? &layout.integrity.blocks[blocks.size() - 1] : nullptr;
    sums.push_back(PackageBlockSums{block.rawSize, kept, was ? was->sum : 0, Xxh64(bytes, kept)});
  }
  std::vector<uint8_t> withoutSection = package;
  Save("fuzz/corpus/package_head/" + name + "-no-section", withoutSection);
  if (!layout.integrity.present) return;
  // Version 2 (as packed now) and version 1 (as earlier packers wrote it).
  const std::vector<uint8_t> v2 =
      EncodeIntegritySection(layout.integrity.headSum, sums, layout.integrity.streamSha256, 1);
  std::vector<uint8_t> v1(v2.begin(), v2.end() - 16);
  v1[8] = 1;
  PutLe(&v1, Xxh64(v1.data(), v1.size()), 8);
  // Version 3 after a signature section with a table of one empty PKCS#7
  // certificate record (as a signing build packs it; the bytes are not
  // signed data, which only list, verify and the uninstaller's writer judge).
  const uint8_t table[8] = {8, 0, 0, 0, 0x00, 0x02, 2, 0};
  std::vector<uint8_t> v3 = EncodeUninstallerSignature(layout.offset, table, sizeof table);
  const std::vector<uint8_t> after =
      EncodeIntegritySection(layout.integrity.headSum, sums, layout.integrity.streamSha256, 1, v3);
  v3.insert(v3.end(), after.begin(), after.end());
  for (const auto& [suffix, section] : {std::pair{"v2", v2}, std::pair{"v1", v1}, std::pair{"v3", v3}}) {
    std::vector<uint8_t> whole = package;
    whole.insert(whole.end(), section.begin(), section.end());
    Save("fuzz/corpus/package_head/" + name + "-section-" + suffix, whole);
    Save("fuzz/corpus/package_integrity/" + name + "-" + suffix, IntegrityInput(blocks, section));
  }
  // The whole setup file around a small package: image, package, trailer.
  std::vector<uint8_t> setup(file.begin(), file.begin() + layout.offset);
  setup.insert(setup.end(), package.begin(), package.end());
  setup.insert(setup.end(), v2.begin(), v2.end());
  const std::vector<uint8_t> trailer = EncodePackageTrailer(layout.offset, setup.size() - layout.offset);
  setup.insert(setup.end(), trailer.begin(), trailer.end());
  Save("fuzz/corpus/package_head/" + name + "-setup-file", setup);
}

}  // namespace

int main() {
  MakeSeeds("norvale-pack", Load("tests/fixtures/norvale-pack-setup.bin"));
  MakeSeeds("wimlib", Load("tests/fixtures/wimlib-setup.bin"));
  return 0;
}
