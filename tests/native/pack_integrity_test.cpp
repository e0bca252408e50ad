// The integrity section that norvale-pack writes after the last block: verify
// checks every checksum in it and names what is damaged; list shows whether a
// package has one and the level it records; a package without it, or with a
// section from before the level was recorded, reads as before.
#include <gtest/gtest.h>

#include "codec/checksum.h"
#include "codec/lzms.h"
#include "pack_test_support.h"

namespace {

class PackIntegrityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stub = dir.path / "stub.exe";
    WriteBytes(stub, MinimalStub());
  }

  // Empty when the file reads back and verifies whole; else the error.
  std::string VerifyError(const fs::path& file) {
    PackageInfo info;
    std::string error;
    if (!ReadPackageInfo(file, &info, &error) || !VerifyPackage(file, info, &error)) return error;
    return {};
  }

  std::string Output(const std::vector<std::string>& args) {
    testing::internal::CaptureStdout();
    RunPackCommand(args);
    return testing::internal::GetCapturedStdout();
  }

  // The packed file (whose section has the packer settings) with its
  // section rewritten: this version field, these settings (none: the layout
  // of version 1), its own checksum made to match and the trailer to fit.
  static std::vector<uint8_t> WithSection(const std::vector<uint8_t>& file, const PackageInfo& info,
                                          uint32_t version, const std::vector<uint8_t>& settings) {
    std::vector<uint8_t> out(file.begin(), file.begin() + info.trailerOffset - 16);
    out.insert(out.end(), settings.begin(), settings.end());
    for (int i = 0; i < 4; ++i) out[info.integrity.offset + 8 + i] = static_cast<uint8_t>(version >> (8 * i));
    PackPutLe(&out, Xxh64(&out[info.integrity.offset], out.size() - info.integrity.offset), 8);
    PackPutLe(&out, info.offset, 8);
    PackPutLe(&out, out.size() - 8 - info.offset, 8);
    out.insert(out.end(), kPackTrailerMagic, kPackTrailerMagic + 8);
    return out;
  }

  TempDir dir;
  fs::path stub;
};

// Every byte of a small package, from the header to the trailer, changed in
// turn (three ways): verify never calls the copy whole, and a change inside
// the compressed bytes or the section is reported as such.
TEST_F(PackIntegrityTest, EveryChangedByteOfThePackageIsCaught) {
  const fs::path input = dir.path / "in", setup = dir.path / "setup.exe";
  WriteBytes(input / "Norvale-Lockra.exe", Text(600, 1));
  WriteBytes(input / "ui" / "a.txt", Text(80, 2));
  WriteBytes(input / "ui" / "empty.txt", {});
  ASSERT_EQ(Pack(stub, input, setup, "0.1.69b"), 0);
  ASSERT_EQ(VerifyError(setup), "");
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(setup, &info, &error)) << error;
  ASSERT_TRUE(info.integrity.present);
  ASSERT_EQ(info.blocks.size(), 1u);
  const uint64_t blockStart = info.blocks[0].dataOffset, blockEnd = blockStart + info.blocks[0].packedSize;

  const std::vector<uint8_t> good = ReadBytes(setup);
  const fs::path copy = dir.path / "copy.exe";
  size_t caught = 0;
  for (size_t at = info.offset; at < good.size(); ++at) {
    for (uint8_t change : {0x01, 0x80, 0xFF}) {
      std::vector<uint8_t> bad = good;
      bad[at] ^= change;
      WriteBytes(copy, bad);
      const std::string why = VerifyError(copy);
      EXPECT_NE(why, "") << "byte " << at << " ^ " << int(change) << " passed as whole";
      if (at >= blockStart && at < blockEnd) {
        EXPECT_NE(why.find("block 1/1"), std::string::npos) << at << ": " << why;
      } else if (at >= info.integrity.offset && at < info.trailerOffset) {
        EXPECT_NE(why.find(at < info.integrity.offset + 8 ? "after the last block" : "integrity section"),
                  std::string::npos)
            << at << ": " << why;
      }
      caught += !why.empty();
    }
  }
  EXPECT_EQ(caught, 3 * (good.size() - info.offset));
}

// A package laid out by hand with three blocks, so that single blocks can be
// swapped: each part of the section is checked by verify, which names it.
TEST_F(PackIntegrityTest, VerifyNamesTheDamagedBlockTableOrStream) {
  const std::vector<std::vector<uint8_t>> raws = {Text(3000, 3), std::vector<uint8_t>(2000, 'a'),
                                                  Text(500, 4)};
  std::vector<PackInput> files = {{"Norvale-Lockra.exe", {}, 4000}, {"ui\\b.txt", {}, 1500}};
  std::vector<uint8_t> stream;
  for (const auto& raw : raws) stream.insert(stream.end(), raw.begin(), raw.end());
  auto build = [&](const std::vector<std::vector<uint8_t>>& packed, const uint8_t* sha) {
    std::vector<uint8_t> file = MinimalStub();
    const std::vector<uint8_t> head = EncodePackageHead("1", files, stream.size(), 3);
    file.insert(file.end(), head.begin(), head.end());
    std::vector<PackBlockSum> sums;
    for (size_t b = 0; b < 3; ++b) {
      sums.push_back({static_cast<uint32_t>(raws[b].size()), static_cast<uint32_t>(packed[b].size()),
                      Xxh64(raws[b].data(), raws[b].size()), Xxh64(packed[b].data(), packed[b].size())});
      for (uint64_t v : {uint64_t{sums[b].rawSize}, uint64_t{sums[b].packedSize}})
        for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(v >> (8 * i)));
      file.insert(file.end(), packed[b].begin(), packed[b].end());
    }
    const auto section =
        EncodeIntegritySection(Xxh64(head.data(), head.size()), sums, sha, LzmsLevel::kNormal);
    file.insert(file.end(), section.begin(), section.end());
    const uint64_t offset = MinimalStub().size(), length = file.size() - offset;
    for (uint64_t v : {offset, length})
      for (int i = 0; i < 8; ++i) file.push_back(static_cast<uint8_t>(v >> (8 * i)));
    file.insert(file.end(), kPackTrailerMagic, kPackTrailerMagic + 8);
    return file;
  };
  std::vector<std::vector<uint8_t>> packed;
  for (const auto& raw : raws) packed.push_back(LzmsBufferedCompress(raw.data(), raw.size()));
  uint8_t sha[32];
  Sha256State state;
  Sha256Begin(&state);
  Sha256Update(&state, stream.data(), stream.size());
  Sha256End(&state, sha);
  const fs::path file = dir.path / "setup.exe";
  WriteBytes(file, build(packed, sha));
  ASSERT_EQ(VerifyError(file), "");

  // Block 2 replaced by a container of the same sizes that decodes, without
  // any error, to other bytes.
  const std::vector<uint8_t> other(2000, 'b');
  auto swapped = packed;
  swapped[1] = LzmsBufferedCompress(other.data(), other.size());
  ASSERT_EQ(swapped[1].size(), packed[1].size());
  WriteBytes(file, build(swapped, sha));
  EXPECT_EQ(VerifyError(file), "block 2/3 is damaged: it decodes to other bytes than were packed");

  // Block 1 damaged inside its stream, with sums made for the damaged bytes:
  // the decoding stops part way or gives other bytes, and verify says which
  // (the hashing thread must not wait for bytes that never come).
  for (const size_t at : {size_t{28}, packed[0].size() / 2, packed[0].size() - 3}) {
    auto damaged = packed;
    damaged[0][at] ^= 0x5A;
    WriteBytes(file, build(damaged, sha));
    const std::string why = VerifyError(file);
    EXPECT_TRUE(why == "block 1/3 does not decode to its 3000 bytes" ||
                why == "block 1/3 is damaged: it decodes to other bytes than were packed")
        << at << ": " << why;
  }

  // An entry name changed in the table, still a valid name.
  auto bytes = build(packed, sha);
  const std::string name = "ui\\b.txt";
  const auto where = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
  ASSERT_NE(where, bytes.end());
  where[3] = 'c';
  WriteBytes(file, bytes);
  EXPECT_EQ(VerifyError(file), "the header or the entry table is damaged (its checksum does not match)");

  // A section that is sound in itself but carries another stream hash.
  uint8_t wrong[32];
  memcpy(wrong, sha, 32);
  wrong[31] ^= 1;
  WriteBytes(file, build(packed, wrong));
  EXPECT_EQ(VerifyError(file), "the content stream does not match its SHA-256");
}

TEST_F(PackIntegrityTest, ListShowsTheSectionAndPackagesWithoutItStayWhole) {
  const fs::path input = dir.path / "in", setup = dir.path / "setup.exe";
  WriteBytes(input / "Norvale-Lockra.exe", Text(300, 5));
  ASSERT_EQ(Pack(stub, input, setup), 0);
  EXPECT_NE(Output({"list", setup.string()}).find("integrity section: present"), std::string::npos);
  EXPECT_NE(
      Output({"verify", setup.string()})
          .find("whole (1 entries, 300 bytes in 1 blocks, packed at level normal, every checksum matches)"),
      std::string::npos);

  // Made by another tool, without the section.
  const fs::path wimlib = fs::path(__FILE__).parent_path().parent_path() / "fixtures" / "wimlib-setup.bin";
  EXPECT_NE(Output({"list", wimlib.string()}).find("integrity section: none"), std::string::npos);
  EXPECT_NE(Output({"verify", wimlib.string()}).find("level not recorded, no integrity section"),
            std::string::npos);
  EXPECT_EQ(VerifyError(wimlib), "");
}

// Sections whose own checksum matches: one from before the level was
// recorded reads whole, and list and verify say so; settings other than a
// known level, or a version field that does not fit the layout, are damage.
TEST_F(PackIntegrityTest, SectionVersionsAndPackerSettings) {
  const fs::path input = dir.path / "in", setup = dir.path / "setup.exe", copy = dir.path / "copy.exe";
  WriteBytes(input / "Norvale-Lockra.exe", Text(300, 6));
  ASSERT_EQ(Pack(stub, input, setup, "1", {"--level", "max"}), 0);
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(setup, &info, &error)) << error;
  const std::vector<uint8_t> good = ReadBytes(setup);
  const std::vector<uint8_t> none, zero(8, 0);
  const std::string settings = "the integrity section is damaged (its packer settings are not valid)";
  const std::string layout = "the integrity section does not describe the package's 1 blocks";
  const struct {
    const char* what;
    uint32_t version;
    std::vector<uint8_t> settings;
    std::string error;
  } cases[] = {
      {"version 1, without settings", 1, none, ""},
      {"version 2 at level max, as packed", 2, {1, 0, 0, 0, 0, 0, 0, 0}, ""},
      {"a level above max", 2, {2, 0, 0, 0, 0, 0, 0, 0}, settings},
      {"a level byte of 0xFF", 2, {0xFF, 0, 0, 0, 0, 0, 0, 0}, settings},
      {"the second settings byte set", 2, {0, 1, 0, 0, 0, 0, 0, 0}, settings},
      {"the last settings byte set", 2, {1, 0, 0, 0, 0, 0, 0, 0x80}, settings},
      {"version 1 with settings", 1, zero, layout},
      {"version 2 without settings", 2, none, layout},
      {"version 3 with no optional section before it", 3, zero,
       "the uninstaller's signature section and the integrity section do not go together"},
      {"version 4", 4, zero, "the integrity section has an unknown version"},
  };
  for (const auto& c : cases) {
    WriteBytes(copy, WithSection(good, info, c.version, c.settings));
    EXPECT_EQ(VerifyError(copy), c.error) << c.what;
    if (!c.error.empty()) continue;
    const std::string level = c.version == 1 ? "level not recorded" : "packed at level max";
    EXPECT_NE(Output({"list", copy.string()}).find("\n1 blocks, " + level + "\n"), std::string::npos)
        << c.what;
    EXPECT_NE(Output({"verify", copy.string()}).find(level + ", every checksum matches)"), std::string::npos)
        << c.what;
  }
}

}  // namespace
