#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "pack_test_support.h"

namespace {

class PackCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stub = dir.path / "stub.exe";
    WriteBytes(stub, MinimalStub());
    input = dir.path / "in";
    WriteBytes(input / "Norvale-Lockra.exe", Text(5000, 1));
    WriteBytes(input / "ui" / "a.txt", Text(100, 2));
    out = dir.path / "out" / "setup.exe";
    fs::create_directories(out.parent_path());
  }

  // The command failed and left nothing in the output folder.
  void ExpectFailureWithoutOutput(int code, const std::string& what) {
    EXPECT_EQ(code, 1) << what;
    EXPECT_TRUE(fs::is_empty(out.parent_path())) << what;
  }

  TempDir dir;
  fs::path stub, input, out;
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
  for (const char* bad : {"a..b.txt", "c:d.txt", "back\\slash.txt"}) {
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

  // A version of 63 bytes is the longest accepted.
  EXPECT_EQ(Pack(stub, input, out, std::string(63, 'v')), 0);
}

TEST(PackNames, LimitsOfWhatThePackageCarries) {
  EXPECT_EQ(CheckEntryName("ui\\fonts\\a.ttf"), "");
  EXPECT_EQ(CheckEntryName(std::string(65535, 'n')), "");
  EXPECT_NE(CheckEntryName(std::string(65536, 'n')), "");
  EXPECT_NE(CheckEntryName(""), "");
  EXPECT_NE(CheckEntryName("word..word"), "");
  EXPECT_NE(CheckEntryName("file:stream"), "");
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
// verifies alike, and a level the packer does not know is refused.
TEST_F(PackCliTest, LevelOptionPacksBothLevelsAndRefusesOthers) {
  WriteBytes(input / "big.txt", Text(300000, 4));
  const fs::path normal = dir.path / "normal.exe", max = dir.path / "max.exe";
  ASSERT_EQ(Pack(stub, input, normal, "1.2.3", {"--level", "normal"}), 0);
  ASSERT_EQ(Pack(stub, input, max, "1.2.3", {"--level", "max"}), 0);
  for (const fs::path& file : {normal, max}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunPackCommand({"verify", file.string()}), 0) << file;
    EXPECT_NE(testing::internal::GetCapturedStdout().find("whole"), std::string::npos) << file;
  }
  EXPECT_NE(ReadBytes(max), ReadBytes(normal));  // the level reached the encoder
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pack(stub, input, out, "1.2.3", {"--level", "fast"}), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("--level is normal or max"), std::string::npos);
  EXPECT_FALSE(fs::exists(out));
}

// Signing with osslsigncode: the certificate table follows the trailer after
// 0 to 7 padding bytes and the PE entry reaches the file's end, so the setup
// program still finds its package.
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
  // Several payload lengths, so that the unsigned file ends at different
  // offsets modulo 8.
  for (int extra = 0; extra < 8; ++extra) {
    WriteBytes(input / "odd.bin", Text(static_cast<size_t>(extra), 9));
    ASSERT_EQ(Pack(realStub, input, out, "0.1.69b", {"--sign-cert", cert, "--sign-key", key}), 0) << extra;
    PackageInfo info;
    std::string error;
    ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
    EXPECT_EQ(info.offset, fs::file_size(realStub));
    EXPECT_LT(PackSearchEnd(out, info.fileSize), info.fileSize);  // a table that reaches the end
    EXPECT_LE(info.padding, 7u);
    EXPECT_EQ((info.trailerOffset + 24 + info.padding) % 8, 0u);
    EXPECT_TRUE(VerifyPackage(out, info, &error)) << error;
  }
  EXPECT_FALSE(fs::exists(fs::path(out).concat(".partial")));
  EXPECT_FALSE(fs::exists(fs::path(out).concat(".signing")));
}

}  // namespace
