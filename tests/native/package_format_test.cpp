// The package format library on the fixture setup files: every cut and
// every single-byte change of the head (header, entry table, block
// headers), the integrity section (each version; the third after the
// uninstaller's signature section) and the trailer, each classified once by
// the table of the region it falls in; the shared name rules and the
// case-insensitive comparison.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/checksum.h"
#include "package_format/entry_name.h"
#include "package_format/integrity.h"
#include "package_format/layout.h"
#include "package_format/uninstaller_signature.h"
#include "tests/name_cases.h"

namespace {

std::vector<uint8_t> Fixture(const char* name) {
  std::ifstream in(std::filesystem::path(__FILE__).parent_path().parent_path() / "fixtures" / name,
                   std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

PackageLayout Layout(const std::vector<uint8_t>& file) {
  PackageLayout layout;
  EXPECT_EQ(ReadPackageLayout(MemorySource(file.data(), file.size()), &layout), PackageReason::kNone);
  return layout;
}

// What the setup program and verify learn from the file: the layout's
// verdict, then the head's checksum.
PackageReason Judge(const std::vector<uint8_t>& file) {
  const ByteSource source = MemorySource(file.data(), file.size());
  PackageLayout layout;
  const PackageReason reason = ReadPackageLayout(source, &layout);
  return reason != PackageReason::kNone ? reason : CheckPackageHeadSum(source, layout);
}

// The fixture packed by norvale-pack (a version 1 section) with its section
// rewritten as the packer writes it now: version 2, or version 3 after a
// signature section (a table of one empty PKCS#7 record: the layout does
// not judge the table).
std::vector<uint8_t> WithSection(const std::vector<uint8_t>& file, uint32_t version) {
  const PackageLayout layout = Layout(file);
  std::vector<uint8_t> out(file.begin(), file.begin() + layout.integrity.offset);
  const uint8_t table[8] = {8, 0, 0, 0, 0x00, 0x02, 2, 0};
  const std::vector<uint8_t> signature =
      version == 3 ? EncodeUninstallerSignature(layout.offset, table, sizeof table) : std::vector<uint8_t>();
  const std::vector<uint8_t> section = EncodeIntegritySection(
      layout.integrity.headSum, layout.integrity.blocks, layout.integrity.streamSha256, 1, signature);
  out.insert(out.end(), signature.begin(), signature.end());
  out.insert(out.end(), section.begin(), section.end());
  const std::vector<uint8_t> trailer = EncodePackageTrailer(layout.offset, out.size() - layout.offset);
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

// The regions of a package, in file order, and what a changed byte or a cut
// inside each must be refused as. kNone for a changed byte means any
// refusal: the field steers the parse (a length, a count), so where it
// fails depends on the value.
struct Region {
  const char* name;
  uint64_t begin, end;
  PackageReason changed, cut;
};

std::vector<Region> Regions(const PackageLayout& l) {
  using R = PackageReason;
  const uint64_t p = l.offset, total = p + 12 + l.version.size();
  std::vector<Region> regions = {
      {"magic", p, p + 4, R::kHeaderMagic, R::kHeaderCut},
      {"format", p + 4, p + 8, R::kHeaderFormat, R::kHeaderCut},
      {"version length", p + 8, p + 12, R::kNone, R::kHeaderCut},
      {"version", p + 12, total, R::kHeadChecksum, R::kHeaderCut},
      {"total size", total, total + 8, R::kHeadChecksum, R::kHeaderCut},
      {"entry count", total + 8, total + 12, R::kNone, R::kHeaderCut},
  };
  uint64_t at = total + 12;
  for (const PackageEntryRecord& entry : l.entries) {
    regions.push_back({"name length", at, at + 2, R::kNone, R::kTableCut});
    regions.push_back({"name", at + 2, at + 2 + entry.name.size(), R::kHeadChecksum, R::kTableCut});
    at += 2 + entry.name.size();
    regions.push_back({"entry size", at, at + 8, R::kHeadChecksum, R::kTableCut});
    at += 8;
  }
  regions.push_back({"block count", at, at + 4, R::kNone, R::kTableCut});
  for (const PackageBlock& block : l.blocks) {
    const uint64_t header = block.dataOffset - 8;
    regions.push_back({"raw size", header, header + 4, R::kSectionBlockSizes, R::kBlockCut});
    regions.push_back({"compressed size", header + 4, header + 8, R::kNone, R::kBlockCut});
  }
  const uint64_t s = l.integrity.offset, t = l.trailerOffset;
  // After a signature section, a section whose start is not whole or not
  // an integrity section does not go with it.
  const bool signed_ = !l.integrity.signature.empty();
  const R start = signed_ ? R::kSectionSignature : R::kSectionForeign;
  if (signed_) {
    const uint64_t g = l.integrity.signatureOffset;
    regions.push_back({"signature magic", g, g + 8, R::kSectionForeign, R::kSectionForeign});
    regions.push_back({"signature version", g + 8, g + 12, R::kSectionChecksum, R::kSectionForeign});
    regions.push_back({"signature table size", g + 12, g + 16, R::kNone, R::kSectionForeign});
    regions.push_back(
        {"signature image size and table", g + 16, s, R::kSectionChecksum, R::kSectionSignature});
  }
  regions.push_back({"section magic", s, s + 8, start, start});
  regions.push_back({"section version", s + 8, s + 12, R::kNone, start});
  regions.push_back({"section block count", s + 12, s + 16, R::kSectionShape, start});
  regions.push_back({"section sums", s + 16, t, R::kSectionChecksum, R::kSectionShape});
  regions.push_back({"trailer offset and length", t, t + 16, R::kTrailerMismatch, R::kNone});
  regions.push_back({"trailer magic", t + 16, t + 24, R::kNoTrailer, R::kNone});
  return regions;
}

class PackageFormatTables : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    file = Fixture("norvale-pack-setup.bin");
    ASSERT_FALSE(file.empty());
    if (GetParam() > 1) file = WithSection(file, GetParam());
    layout = Layout(file);
    ASSERT_TRUE(layout.integrity.present);
    ASSERT_EQ(layout.integrity.level.has_value(), GetParam() > 1);
    ASSERT_EQ(layout.integrity.signature.size(), GetParam() == 3 ? kUninstallerSignatureHeadSize + 8 : 0);
    sectionStart = GetParam() == 3 ? layout.integrity.signatureOffset : layout.integrity.offset;
  }
  uint64_t sectionStart = 0;  // the end of the last block
  std::vector<uint8_t> file;
  PackageLayout layout;
};

TEST_P(PackageFormatTables, EveryChangedByteIsRefusedAsItsRegionSays) {
  ASSERT_EQ(Judge(file), PackageReason::kNone);
  const std::vector<Region> regions = Regions(layout);
  // The regions tile the head, the block headers, the section and the
  // trailer, each byte in one region.
  uint64_t covered = 0;
  for (const Region& region : regions) covered += region.end - region.begin;
  EXPECT_EQ(covered, layout.headEnd - layout.offset + 8 * layout.blocks.size() +
                         (layout.trailerOffset - sectionStart) + kPackageTrailerSize);
  for (const Region& region : regions) {
    for (uint64_t at = region.begin; at < region.end; ++at) {
      const uint8_t was = file[at];
      for (int value = 0; value < 256; ++value) {
        if (value == was) continue;
        file[at] = static_cast<uint8_t>(value);
        const PackageReason reason = Judge(file);
        if (region.changed == PackageReason::kNone)
          ASSERT_NE(reason, PackageReason::kNone) << region.name << " at " << at << " = " << value;
        else
          ASSERT_EQ(reason, region.changed) << region.name << " at " << at << " = " << value;
      }
      file[at] = was;
    }
  }
}

TEST_P(PackageFormatTables, EveryCutBehindASoundTrailerIsRefusedAsItsRegionSays) {
  const std::vector<Region> regions = Regions(layout);
  // A count that the cut bytes can no longer hold is refused before the
  // walk: the same class as a cut met while walking.
  const auto cut = [&](uint64_t end) {
    std::vector<uint8_t> out(file.begin(), file.begin() + end);
    const std::vector<uint8_t> trailer = EncodePackageTrailer(layout.offset, end - layout.offset);
    out.insert(out.end(), trailer.begin(), trailer.end());
    const PackageReason reason = Judge(out);
    return reason == PackageReason::kEntryCountTooLarge   ? PackageReason::kTableCut
           : reason == PackageReason::kBlockCountTooLarge ? PackageReason::kBlockCut
                                                          : reason;
  };
  for (const Region& region : regions)
    if (region.cut != PackageReason::kNone)
      for (uint64_t end = region.begin; end < region.end; ++end)
        if (end != sectionStart)  // the whole section cut away: below
          ASSERT_EQ(cut(end), region.cut) << "cut in the " << region.name << " at " << end;
  // Cut inside a block's compressed bytes, and right after the last block:
  // the package then simply has no section (as from an earlier packer).
  EXPECT_EQ(cut(layout.blocks.back().dataOffset + 1), PackageReason::kBlockCut);
  EXPECT_EQ(cut(sectionStart), PackageReason::kNone);
  // A whole file cut anywhere loses its trailer.
  for (uint64_t end : {uint64_t{0}, uint64_t{24}, layout.offset + 1, layout.trailerOffset + 23})
    EXPECT_EQ(Judge(std::vector<uint8_t>(file.begin(), file.begin() + end)), PackageReason::kNoTrailer)
        << end;
}

INSTANTIATE_TEST_SUITE_P(SectionVersions, PackageFormatTables, ::testing::Values(1u, 2u, 3u));

TEST(PackageFormat, ReadsBothFixturePackages) {
  const std::vector<uint8_t> ours = Fixture("norvale-pack-setup.bin"), outside = Fixture("wimlib-setup.bin");
  const PackageLayout a = Layout(ours), b = Layout(outside);
  for (const PackageLayout* l : {&a, &b}) {
    EXPECT_EQ(l->version, "0.1.69b");
    EXPECT_EQ(l->entries.size(), 6u);
    uint64_t sum = 0;
    EXPECT_TRUE(SumEntrySizes(l->entries, &sum));
    EXPECT_EQ(sum, l->totalSize);
    EXPECT_EQ(FirstOversizedBlock(*l), l->blocks.size());
    EXPECT_EQ(l->offset + l->length, l->trailerOffset);
  }
  EXPECT_EQ(a.blocks.size(), 1u);
  EXPECT_EQ(b.blocks.size(), 3u);
  EXPECT_FALSE(b.integrity.present);  // made by another tool: nothing to check, read as before
  EXPECT_EQ(CheckPackageHeadSum(MemorySource(ours.data(), ours.size()), a), PackageReason::kNone);
  // The writer's head is the reader's, byte for byte.
  const std::vector<uint8_t> head = EncodePackageHead(a.version, a.entries, a.totalSize, a.blockCount);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), ours.begin() + a.offset));
  EXPECT_EQ(head.size(), a.headEnd - a.offset);
}

TEST(PackageFormat, LengthsBeyondTheFileAreRefusedBeforeAnythingIsAllocated) {
  const std::vector<uint8_t> file = Fixture("wimlib-setup.bin");
  const PackageLayout layout = Layout(file);
  const uint64_t count = layout.offset + 12 + layout.version.size() + 8;
  const uint64_t blocks = layout.headEnd - 4;
  const struct {
    uint64_t at;
    uint32_t value;
    PackageReason reason;
  } cases[] = {
      {count, 0xFFFFFFFF, PackageReason::kEntryCountTooLarge},
      {blocks, 0xFFFFFFFF, PackageReason::kBlockCountTooLarge},
      {layout.blocks[0].dataOffset - 4, 0xFFFFFF00, PackageReason::kBlockCut},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bad = file;
    for (int i = 0; i < 4; ++i) bad[c.at + i] = static_cast<uint8_t>(c.value >> (8 * i));
    EXPECT_EQ(Judge(bad), c.reason) << c.at;
  }
  // Entry sizes whose sum does not fit in 64 bits.
  uint64_t sum = 0;
  EXPECT_FALSE(SumEntrySizes({{"a", UINT64_MAX}, {"b", 1}}, &sum));
}

TEST(PackageFormat, NameRulesFromTheSharedCases) {
  for (const NameCase& c : EntryNameCases())
    EXPECT_EQ(IsInstallableEntryName(c.name), c.installable) << c.name;
}

TEST(PackageFormat, CaseIsIgnoredOneUnitAtATime) {
  const struct {
    std::u16string a, b;
    bool same;
  } cases[] = {
      {u"Norvale-Lockra.exe", u"NORVALE-LOCKRA.EXE", true},
      {u"\u00e9t\u00e9", u"\u00c9T\u00c9", true},  // é É
      {u"\u03c3\u03c2", u"\u03a3\u03a3", true},    // σ ς Σ
      {u"stra\u00dfe", u"STRASSE", false},         // no expansion: ß is not SS
      {u"ui", u"ui\\", false},
      {u"\U0001F600", u"\U0001F600", true},
      {u"a", u"b", false},
  };
  for (const auto& c : cases) EXPECT_EQ(SameTextIgnoringCase(c.a, c.b), c.same);
}

}  // namespace
