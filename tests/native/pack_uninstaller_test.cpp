// The uninstaller's signature: the section's reader, the PE checksum, and a
// signing build whose stored table osslsigncode accepts on the bare stub.
#include <gtest/gtest.h>

#include <cstdlib>

#include "pack_test_support.h"
#include "package_format/uninstaller_signature.h"

namespace {

std::vector<uint8_t> Table(uint32_t size, uint32_t length, uint16_t revision = 0x0200, uint16_t type = 2) {
  std::vector<uint8_t> table(size, 0x33);
  memcpy(&table[0], &length, 4);
  memcpy(&table[4], &revision, 2);
  memcpy(&table[6], &type, 2);
  return table;
}

TEST(UninstallerSignatureSection, ReadsOnlySoundSections) {
  const auto good = Table(64, 60);
  auto section = EncodeUninstallerSignature(2153491, good.data(), 64);
  UninstallerSignature signature;
  ASSERT_EQ(ParseUninstallerSignature(section.data(), section.size(), &signature), "");
  EXPECT_EQ(signature.imageSize, 2153491u);
  EXPECT_EQ(signature.tableOffset, 2153496u);  // rounded up to 8
  EXPECT_EQ(signature.tableSize, 64u);
  EXPECT_EQ(std::vector<uint8_t>(signature.table, signature.table + 64), good);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  auto edited = [&](size_t at, uint8_t value) {
    auto bytes = section;
    bytes[at] = value;
    return bytes;
  };
  const auto odd = Table(60, 60), wrongType = Table(64, 60, 0x0200, 1), wrongRevision = Table(64, 60, 0x0100);
  const auto beyond = Table(64, 72), huge = Table(kUninstallerSignatureMaxTable + 8, 64);
  const std::vector<Case> refused = {
      {"cut short", std::vector<uint8_t>(section.begin(), section.end() - 8)},
      {"other magic", edited(0, 'X')},
      {"version 2", edited(8, 2)},
      {"table not a multiple of 8", EncodeUninstallerSignature(100, odd.data(), 60)},
      {"not PKCS#7 signed data", EncodeUninstallerSignature(100, wrongType.data(), 64)},
      {"another WIN_CERTIFICATE revision", EncodeUninstallerSignature(100, wrongRevision.data(), 64)},
      {"a first certificate longer than the table", EncodeUninstallerSignature(100, beyond.data(), 64)},
      {"a table above 1 MiB",
       EncodeUninstallerSignature(100, huge.data(), static_cast<uint32_t>(huge.size()))},
      {"an empty image", EncodeUninstallerSignature(0, good.data(), 64)},
      {"an entry past 4 GiB", EncodeUninstallerSignature(UINT32_MAX - 40, good.data(), 64)},
      {"header only", std::vector<uint8_t>(section.begin(), section.begin() + 24)},
  };
  for (const Case& c : refused)
    EXPECT_NE(ParseUninstallerSignature(c.bytes.data(), c.bytes.size(), &signature), "") << c.what;
}

// Fed in pieces of any size, the checksum is the one of the whole file.
TEST(UninstallerSignatureSection, PeChecksumDoesNotDependOnThePieces) {
  const auto bytes = Text(1001, 7);
  PeChecksum whole, pieces;
  PeChecksumUpdate(&whole, bytes.data(), bytes.size());
  for (size_t at = 0, n = 1; at < bytes.size(); at += n, n = n % 5 + 1)
    PeChecksumUpdate(&pieces, bytes.data() + at, std::min(n, bytes.size() - at));
  EXPECT_EQ(PeChecksumEnd(whole), PeChecksumEnd(pieces));
}

class SignedBuildTest : public PackFolderTest {
 protected:
  void SetUp() override {
    PackFolderTest::SetUp();
    const char* outDir = std::getenv("NORVALE_OUT");
    realStub = outDir ? fs::path(outDir) / "setup-stub.exe" : fs::path();
    if (realStub.empty() || !fs::exists(realStub)) GTEST_SKIP() << "setup-stub.exe not built";
    if (std::system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
      GTEST_SKIP() << "osslsigncode or openssl missing";
    cert = (dir.path / "cert.pem").string(), key = (dir.path / "key.pem").string();
    const std::string make =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Norvale-test -keyout '" + key +
        "' -out '" + cert + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
  }

  // osslsigncode verify, chained to the test certificate.
  bool Verifies(const fs::path& file) {
    const std::string command = "osslsigncode verify -CAfile '" + cert + "' -in '" + file.string() +
                                "' 2>&1 | grep -q 'Signature verification: ok'";
    return std::system(command.c_str()) == 0;
  }

  fs::path realStub;
  std::string cert, key;
};

TEST_F(SignedBuildTest, StoredTableSignsTheBareStub) {
  ASSERT_EQ(Pack(realStub, input, out, "1.2.3", {"--sign-cert", cert, "--sign-key", key}), 0);
  EXPECT_TRUE(Verifies(out));
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
  UninstallerSignature signature;
  const auto& section = info.integrity.signature;
  ASSERT_EQ(ParseUninstallerSignature(section.data(), section.size(), &signature), "");
  const auto setup = ReadBytes(out);
  EXPECT_EQ(setup[info.integrity.offset + 8], 3);  // the integrity section covers it

  // The bare stub laid out as the setup program writes it: the image, zeros
  // to a multiple of 8, the stored table, its entry, the PE checksum.
  auto bare = ReadBytes(realStub);
  uint64_t checksumAt = 0, entryAt = 0;
  ASSERT_TRUE(LocatePeFields(bare.data(), bare.size(), &checksumAt, &entryAt));
  ASSERT_EQ(signature.imageSize, bare.size());
  bare.resize(signature.tableOffset, 0);
  bare.insert(bare.end(), signature.table, signature.table + signature.tableSize);
  memcpy(&bare[entryAt], &signature.tableOffset, 4);
  memcpy(&bare[entryAt + 4], &signature.tableSize, 4);
  memset(&bare[checksumAt], 0, 4);
  PeChecksum sum;
  PeChecksumUpdate(&sum, bare.data(), bare.size());
  const uint32_t value = PeChecksumEnd(sum);
  memcpy(&bare[checksumAt], &value, 4);
  WriteBytes(dir.path / "uninstall.exe", bare);
  EXPECT_TRUE(Verifies(dir.path / "uninstall.exe"));
  // osslsigncode set the setup file's checksum: the same sum over its bytes.
  auto zeroed = setup;
  memset(&zeroed[checksumAt], 0, 4);
  PeChecksum setupSum;
  PeChecksumUpdate(&setupSum, zeroed.data(), zeroed.size());
  EXPECT_EQ(Le(setup, checksumAt, 4), PeChecksumEnd(setupSum));

  testing::internal::CaptureStdout();
  EXPECT_EQ(RunPackCommand({"list", out.string()}), 0);
  EXPECT_EQ(RunPackCommand({"verify", out.string()}), 0);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(
      printed.find("uninstaller signature: certificate table of " + std::to_string(signature.tableSize)),
      std::string::npos)
      << printed;

  // A stub changed after signing no longer has the signed digest.
  auto changed = setup;
  changed[bare.size() / 2] ^= 0x5A;
  WriteBytes(dir.path / "changed.exe", changed);
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunPackCommand({"verify", (dir.path / "changed.exe").string()}), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("its digest is not the stub's"), std::string::npos);

  // The integrity section's checksum covers the stored table.
  changed = setup;
  changed[info.integrity.offset - 100] ^= 0x5A;
  WriteBytes(dir.path / "changed.exe", changed);
  EXPECT_FALSE(ReadPackageInfo(dir.path / "changed.exe", &info, &error));
  EXPECT_EQ(error, "the integrity section is damaged (its own checksum does not match)");
}

// Without signing the package is laid out as before optional sections
// existed, so setup programs made before them still read it.
using UnsignedBuildTest = PackFolderTest;
TEST_F(UnsignedBuildTest, KeepsIntegrityVersion2) {
  ASSERT_EQ(Pack(stub, input, out), 0);
  PackageInfo info;
  std::string error;
  ASSERT_TRUE(ReadPackageInfo(out, &info, &error)) << error;
  EXPECT_TRUE(info.integrity.signature.empty());
  EXPECT_EQ(ReadBytes(out)[info.integrity.offset + 8], 2);
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunPackCommand({"list", out.string()}), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("uninstaller signature: none"), std::string::npos);
}

}  // namespace

// The stub is signed through temporary files beside the output: they may not
// be an input either.
TEST_F(UnsignedBuildTest, StubSigningFilesMayNotBeAnInput) {
  const fs::path beside = dir.path / "setup.exe.stub";
  fs::copy_file(stub, beside);
  const auto bytes = ReadBytes(beside);
  const std::string none = (dir.path / "none.pem").string();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pack(beside, input, dir.path / "setup.exe", "1.2.3", {"--sign-cert", none, "--sign-key", none}),
            1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("is the input"), std::string::npos);
  EXPECT_EQ(ReadBytes(beside), bytes);
  EXPECT_FALSE(fs::exists(dir.path / "setup.exe"));
}
