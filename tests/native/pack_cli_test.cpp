#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "pack_test_support.h"

namespace {

class PackCliTest : public PackFolderTest {
 protected:
  void SetUp() override {
    PackFolderTest::SetUp();
    WriteBytes(input / "ui" / "a.txt", Text(100, 2));
  }

  // The command failed and left nothing in the output folder.
  void ExpectFailureWithoutOutput(int code, const std::string& what) {
    EXPECT_EQ(code, 1) << what;
    EXPECT_TRUE(fs::is_empty(out.parent_path())) << what;
  }
};

TEST_F(PackCliTest, RefusedInputsLeaveNoOutputFile) {
  ExpectFailureWithoutOutput(Pack(stub, dir.path / "missing", out), "missing folder");
  ExpectFailureWithoutOutput(Pack(stub, input, out, std::string(64, 'v')), "version of 64 bytes");
  ExpectFailureWithoutOutput(Pack(dir.path / "nostub.exe", input, out), "missing stub");
  WriteBytes(dir.path / "text.exe", Text(2000, 3));
  ExpectFailureWithoutOutput(Pack(dir.path / "text.exe", input, out), "stub that is no PE file");

  // A stub that already carries a package.
  ASSERT_EQ(Pack(stub, input, dir.path / "packed.exe"), 0);
  ExpectFailureWithoutOutput(Pack(dir.path / "packed.exe", input, out), "stub with a package");

  // Names the format cannot carry.
  for (const char* bad : {"a..b.txt", "c:d.txt", "back\\slash.txt", "tab\there.txt", "bell\x07.txt"}) {
    const fs::path in = dir.path / ("bad" + std::to_string(strlen(bad)));
    WriteBytes(in / "Norvale-Lockra.exe", {1});
    WriteBytes(in / "sub" / bad, {2});
    ExpectFailureWithoutOutput(Pack(stub, in, out), bad);
  }

  // A file that cannot be read (a link to nothing).
  const fs::path dangling = dir.path / "dangling";
  WriteBytes(dangling / "Norvale-Lockra.exe", {1});
  fs::create_symlink(dir.path / "nowhere", dangling / "lost.txt");
  ExpectFailureWithoutOutput(Pack(stub, dangling, out), "dangling link");

  // Signing fails (the stub is signed for the uninstaller before anything is
  // packed): nothing of it stays.
  const std::string none = (dir.path / "none.pem").string();
  ExpectFailureWithoutOutput(Pack(stub, input, out, "1.2.3", {"--sign-cert", none, "--sign-key", none}),
                             "signing with a certificate and key that do not exist");

  // A version of 63 bytes is the longest accepted.
  EXPECT_EQ(Pack(stub, input, out, std::string(63, 'v')), 0);
}

// What a maker may get wrong on the command line: a product folder without
// the product, an output that would overwrite an input, a thread count out
// of bounds. Each is refused before anything is written.
TEST_F(PackCliTest, RefusedBuildsLeaveTheInputsAlone) {
  const fs::path lower = dir.path / "lower", folder = dir.path / "folder", none = dir.path / "none";
  WriteBytes(lower / "norvale-lockra.exe", Text(50, 1));
  WriteBytes(folder / "Norvale-Lockra.exe" / "inside.txt", Text(50, 1));
  WriteBytes(none / "readme.txt", Text(50, 1));
  for (const fs::path& in : {lower, folder, none}) {
    testing::internal::CaptureStderr();
    ExpectFailureWithoutOutput(Pack(stub, in, out), in.string());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("holds no file Norvale-Lockra.exe"), std::string::npos) << said;
  }

  // The output may not be an input, nor lie inside the product folder.
  const fs::path outside = dir.path / "outside.txt";
  WriteBytes(outside, Text(70, 4));
  fs::create_hard_link(outside, input / "linked.txt");  // the same file by inode
  const auto stubBytes = ReadBytes(stub);
  for (const fs::path& target : {stub, input / "Norvale-Lockra.exe", input / "new.exe", outside, input}) {
    EXPECT_EQ(Pack(stub, input, target), 1) << target;
    EXPECT_FALSE(fs::exists(input / "new.exe")) << target;
  }
  EXPECT_EQ(ReadBytes(stub), stubBytes);
  EXPECT_EQ(ReadBytes(input / "Norvale-Lockra.exe"), Text(5000, 1));
  EXPECT_EQ(ReadBytes(outside), Text(70, 4));
  fs::remove(input / "linked.txt");

  for (const char* threads : {"2147483648", "4294967297", "-1", "0", "257", "2x", ""}) {
    EXPECT_EQ(Pack(stub, input, out, "1.2.3", {"--threads", threads}), 2) << threads;
    EXPECT_TRUE(fs::is_empty(out.parent_path())) << threads;
  }
  EXPECT_EQ(Pack(stub, input, out, "1.2.3", {"--threads", "256"}), 0);
}

// list and verify judge a file by the bytes it really has: counts and the
// span after the last block are held to the file's size before anything
// is walked or allocated (a sparse file of a terabyte costs nothing).
TEST_F(PackCliTest, ListAndVerifyHoldCountsToTheFileSize) {
  ASSERT_EQ(Pack(stub, input, out), 0);
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
  const auto good = ReadBytes(out);
  // The file up to its last block: no integrity section, no trailer.
  const std::vector<uint8_t> blocks(
      good.begin(), good.begin() + info.blocks.back().dataOffset + info.blocks.back().packedSize);
  const struct {
    const char* what;
    uint64_t gap;  // zero bytes put between the last block and the trailer
    size_t at;     // offset of a 32-bit count set to 0xFFFFFFFF, or 0
    const char* error;
  } cases[] = {
      {"entries", 1 << 20, MinimalStub().size() + 12 + 5 + 8, "the entry table announces 4294967295 entries"},
      {"blocks", 1 << 20, info.headEnd - 4, "the block list announces 4294967295 blocks"},
      {"gap", uint64_t{1} << 40, 0, "1099511627776 unexpected bytes after the last block"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> file = blocks;
    if (c.at) file[c.at] = file[c.at + 1] = file[c.at + 2] = file[c.at + 3] = 0xFF;
    const fs::path path = dir.path / (std::string(c.what) + ".exe");
    WriteBytes(path, file);
    std::vector<uint8_t> trailer(good.end() - kPackTrailerSize, good.end());
    const uint64_t length = file.size() + c.gap - info.offset;
    for (int i = 0; i < 8; ++i) trailer[8 + i] = static_cast<uint8_t>(length >> (8 * i));
    fs::resize_file(path, file.size() + c.gap);  // sparse: no disk, no time
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(trailer.data()), kPackTrailerSize);
    for (const char* command : {"list", "verify"}) {
      testing::internal::CaptureStderr();
      testing::internal::CaptureStdout();
      EXPECT_EQ(RunPackCommand({command, path.string()}), 1) << c.what;
      testing::internal::GetCapturedStdout();
      const std::string said = testing::internal::GetCapturedStderr();
      EXPECT_NE(said.find(c.error), std::string::npos) << command << " " << c.what << ": " << said;
    }
  }
}

TEST(PackNames, LimitsOfWhatThePackageCarries) {
  EXPECT_EQ(CheckEntryName("ui\\fonts\\a.ttf"), "");
  EXPECT_EQ(CheckEntryName(std::string(65535, 'n')), "");
  EXPECT_NE(CheckEntryName(std::string(65536, 'n')), "");
  EXPECT_NE(CheckEntryName(""), "");
  EXPECT_NE(CheckEntryName("word..word"), "");
  EXPECT_NE(CheckEntryName("file:stream"), "");
  for (const char* control : {"tab\there", "line\nbreak", "\x01start", "end\x1f"})
    EXPECT_NE(CheckEntryName(control), "") << control;
  EXPECT_EQ(CheckEntryName("a b~.txt"), "");  // space and the top of ASCII are fine
}

TEST_F(PackCliTest, ListAndVerifyReportTheWholePackageAndCatchDamage) {
  ASSERT_EQ(Pack(stub, input, out, "0.1.69b"), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunPackCommand({"list", out.string()}), 0);
  const std::string listing = testing::internal::GetCapturedStdout();
  EXPECT_NE(listing.find("version 0.1.69b"), std::string::npos) << listing;
  EXPECT_NE(listing.find("5000  Norvale-Lockra.exe"), std::string::npos) << listing;
  EXPECT_NE(listing.find("100  ui\\a.txt"), std::string::npos) << listing;
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunPackCommand({"verify", out.string()}), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("whole"), std::string::npos);

  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
  const auto good = ReadBytes(out);

  // A block that does not decode.
  auto bad = good;
  bad[info.blocks[0].dataOffset + 6] ^= 0xFF;  // container check byte
  WriteBytes(dir.path / "bad-block.exe", bad);
  EXPECT_EQ(RunPackCommand({"verify", (dir.path / "bad-block.exe").string()}), 1);

  // Entry sizes that the stream does not fill.
  bad = good;
  bad[MinimalStub().size() + 12 + 7] += 1;  // header total size
  WriteBytes(dir.path / "bad-total.exe", bad);
  EXPECT_EQ(RunPackCommand({"verify", (dir.path / "bad-total.exe").string()}), 1);

  // Cut short: no trailer any more.
  bad.assign(good.begin(), good.end() - 30);
  WriteBytes(dir.path / "cut.exe", bad);
  EXPECT_EQ(RunPackCommand({"list", (dir.path / "cut.exe").string()}), 1);
  EXPECT_EQ(RunPackCommand({"verify", (dir.path / "cut.exe").string()}), 1);
}

// --level picks the encoder's effort; either way the package reads and
// verifies alike, list and verify name the level it was packed at, and a
// level the packer does not know is refused.
TEST_F(PackCliTest, LevelOptionPacksBothLevelsAndRefusesOthers) {
  WriteBytes(input / "big.txt", Text(300000, 4));
  const fs::path normal = dir.path / "normal.exe", max = dir.path / "max.exe";
  const struct {
    std::vector<std::string> flags;
    fs::path file;
    const char* named;
  } cases[] = {
      {{}, dir.path / "default.exe", "packed at level normal"},
      {{"--level", "normal"}, normal, "packed at level normal"},
      {{"--level", "max"}, max, "packed at level max"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Pack(stub, input, c.file, "1.2.3", c.flags), 0) << c.file;
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPackCommand({"list", c.file.string()}), 0) << c.file;
    const std::string listing = testing::internal::GetCapturedStdout();
    EXPECT_NE(listing.find("\n1 blocks, " + std::string(c.named) + "\n"), std::string::npos) << listing;
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPackCommand({"verify", c.file.string()}), 0) << c.file;
    const std::string verdict = testing::internal::GetCapturedStdout();
    EXPECT_NE(verdict.find(std::string(c.named) + ", every checksum matches)"), std::string::npos) << verdict;
  }
  // The level reached the encoder: the blocks differ, not only the section
  // that records it.
  auto blocks = [](const fs::path& file) {
    PackageInfo info;
    std::string error;
    EXPECT_TRUE(ReadPackageInfo(file, &info, &error)) << error;
    const auto bytes = ReadBytes(file);
    return std::vector<uint8_t>(bytes.begin() + info.offset, bytes.begin() + info.integrity.offset);
  };
  EXPECT_NE(blocks(max), blocks(normal));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pack(stub, input, out, "1.2.3", {"--level", "fast"}), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("--level is normal or max"), std::string::npos);
  EXPECT_FALSE(fs::exists(out));
}

// Signing with osslsigncode: the certificate table follows the trailer after
// 0 to 7 padding bytes and the PE entry reaches the file's end, so the setup
// program still finds its package.
// Without --version the package takes the product's own version text; a
// product that has none (or no readable one) is refused and nothing is written.
TEST_F(PackCliTest, VersionComesFromTheProductsVersionBlock) {
  const char* outDir = std::getenv("NORVALE_OUT");
  if (!outDir || !fs::exists(fs::path(outDir) / "product" / "Norvale-Lockra.exe"))
    GTEST_SKIP() << "the stand-in product is not built";
  const std::vector<uint8_t> product = ReadBytes(fs::path(outDir) / "product" / "Norvale-Lockra.exe");
  const std::vector<std::string> noVersion = {"build",   "--quiet",      "--stub", stub.string(),
                                              "--input", input.string(), "--out",  out.string()};
  WriteBytes(input / "Norvale-Lockra.exe", product);
  ASSERT_EQ(RunPackCommand(noVersion), 0);
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
  EXPECT_EQ(info.version, NORVALE_VERSION_TEXT);
  // --version still wins.
  ASSERT_EQ(Pack(stub, input, out, "9.8.7"), 0);
  ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
  EXPECT_EQ(info.version, "9.8.7");
  fs::remove(out);

  // The same image with its "ProductVersion" key renamed.
  std::vector<uint8_t> renamed = product;
  const std::u16string key = u"ProductVersion";
  auto at = std::search(renamed.begin(), renamed.end(), reinterpret_cast<const uint8_t*>(key.data()),
                        reinterpret_cast<const uint8_t*>(key.data() + key.size()));
  ASSERT_NE(at, renamed.end());
  at[2 * key.size() - 2] = 'X';
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> refused = {
      {"a program without a version block", ReadBytes(fs::path(outDir) / "fixtures" / "norvale-probe.exe")},
      {"a version block without ProductVersion", renamed},
      {"the image cut after its headers", std::vector<uint8_t>(product.begin(), product.begin() + 1024)},
      {"no executable at all", Text(5000, 1)},
  };
  for (const auto& [what, bytes] : refused) {
    ASSERT_GT(bytes.size(), 0u) << what;
    WriteBytes(input / "Norvale-Lockra.exe", bytes);
    ExpectFailureWithoutOutput(RunPackCommand(noVersion), what);
  }
}

TEST_F(PackCliTest, SignedSetupKeepsItsPackageWhereTheReaderLooks) {
  const char* outDir = std::getenv("NORVALE_OUT");
  const fs::path realStub = outDir ? fs::path(outDir) / "setup-stub.exe" : fs::path();
  if (realStub.empty() || !fs::exists(realStub)) GTEST_SKIP() << "setup-stub.exe not built";
  if (std::system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
    GTEST_SKIP() << "osslsigncode or openssl missing";
  const std::string cert = (dir.path / "cert.pem").string(), key = (dir.path / "key.pem").string();
  const std::string make =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Norvale-test -keyout '" + key +
      "' -out '" + cert + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  // Compressed sizes come in 16-bit units, so the payload cannot move the
  // unsigned file's end by single bytes; the version's length does, and eight
  // lengths in a row give every padding from 0 to 7.
  std::set<uint32_t> paddings;
  for (int extra = 0; extra < 8; ++extra) {
    const std::string version = "0.1.69b" + std::string(static_cast<size_t>(extra), 'x');
    ASSERT_EQ(Pack(realStub, input, out, version, {"--sign-cert", cert, "--sign-key", key}), 0) << extra;
    PackageInfo info;
    std::string error;
    ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
    EXPECT_EQ(info.version, version);
    EXPECT_EQ(info.offset, fs::file_size(realStub));
    EXPECT_LT(PackSearchEnd(out, info.fileSize), info.fileSize);  // a table that reaches the end
    EXPECT_EQ((info.trailerOffset + 24 + info.padding) % 8, 0u);
    EXPECT_TRUE(VerifyPackage(out, info, &error)) << error;
    paddings.insert(info.padding);
  }
  EXPECT_EQ(paddings, (std::set<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_FALSE(fs::exists(fs::path(out).concat(".partial")));
  EXPECT_FALSE(fs::exists(fs::path(out).concat(".signing")));

  // A certificate that expired yesterday: Windows would not trust the
  // signature, so it signs only when the maker insists, with a warning.
  fs::remove(out);
  const std::string expired = (dir.path / "expired.pem").string(), request = (dir.path / "req.csr").string();
  const std::string makeExpired = "openssl req -new -key '" + key + "' -subj /CN=Norvale-old -out '" +
                                  request + "' >/dev/null 2>&1 && openssl x509 -req -days -1 -in '" +
                                  request + "' -signkey '" + key + "' -out '" + expired + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(makeExpired.c_str()), 0);
  const std::vector<std::string> signing = {"--sign-cert", expired, "--sign-key", key};
  testing::internal::CaptureStderr();
  ExpectFailureWithoutOutput(Pack(realStub, input, out, "1.0", signing), "expired certificate");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("expired on"), std::string::npos);
  std::vector<std::string> insisting = signing;
  insisting.push_back("--allow-expired-cert");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pack(realStub, input, out, "1.0", insisting), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("warning: the certificate"), std::string::npos);
}

TEST(PackSigning, CertificateDates) {
  const char* from = "2026-01-01 00:00:00Z";
  const char* to = "2027-01-01 00:00:00Z";
  EXPECT_EQ(CertificateDateProblem(from, to, "2026-12-10 18:00:00Z"), "");
  EXPECT_EQ(CertificateDateProblem(from, to, from), "");
  EXPECT_EQ(CertificateDateProblem(from, to, "2025-12-31 23:59:59Z"),
            "is not valid before 2026-01-01 00:00:00Z");
  EXPECT_EQ(CertificateDateProblem(from, to, "2027-01-01 00:00:01Z"), "expired on 2027-01-01 00:00:00Z");
}

}  // namespace
