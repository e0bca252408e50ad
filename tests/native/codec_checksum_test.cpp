#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/checksum.h"
#include "tools/pack_hash.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

std::string Sha256Hex(const std::vector<uint8_t>& data, size_t piece) {
  Sha256State s;
  Sha256Begin(&s);
  for (size_t at = 0; at < data.size(); at += piece)
    Sha256Update(&s, data.data() + at, std::min(piece, data.size() - at));
  uint8_t digest[32];
  Sha256End(&s, digest);
  return Hex(digest, 32);
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// Published values of both algorithms (the xxHash and FIPS 180 examples).
TEST(Checksums, PublishedValues) {
  const struct {
    std::string text;
    uint64_t xxh64;
  } xxh[] = {{"", 0xEF46DB3751D8E999ull},
             {"a", 0xD24EC4F1A98C6E5Bull},
             {"abc", 0x44BC2CF5AD770999ull},
             {"Nobody inspects the spammish repetition", 0xFBCEA83C8A378BF1ull}};
  for (const auto& v : xxh)
    EXPECT_EQ(Xxh64(reinterpret_cast<const uint8_t*>(v.text.data()), v.text.size()), v.xxh64) << v.text;
  EXPECT_EQ(Sha256Hex({}, 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex(Bytes("abc"), 64), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"), 64),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::vector<uint8_t>(1000000, 'a'), 4096),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Fed in pieces of any size, both give what one call over everything gives.
TEST(Checksums, PiecesGiveTheWholeValue) {
  std::vector<uint8_t> data(100003);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  const uint64_t whole = Xxh64(data.data(), data.size());
  const std::string sha = Sha256Hex(data, data.size());
  for (size_t piece : {1, 3, 7, 31, 32, 33, 63, 64, 65, 1000}) {
    Xxh64State s;
    Xxh64Begin(&s);
    for (size_t at = 0; at < data.size(); at += piece)
      Xxh64Update(&s, data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(Xxh64End(&s), whole) << piece;
    EXPECT_EQ(Sha256Hex(data, piece), sha) << piece;
  }
  // Lengths around the 32-byte stripes and the 56-byte padding limit.
  for (size_t n : {31, 32, 33, 55, 56, 57, 63, 64, 65, 119, 120}) {
    std::vector<uint8_t> prefix(data.begin(), data.begin() + n), changed = prefix;
    changed[n - 1] ^= 1;
    EXPECT_NE(Xxh64(prefix.data(), n), Xxh64(changed.data(), n)) << n;
    EXPECT_NE(Sha256Hex(prefix, n), Sha256Hex(changed, n)) << n;
  }
}

// The packer's library checksums and the setup program's own agree on every
// length, whole and in pieces: a package packed with the one checks with the
// other.
TEST(Checksums, PackerLibrariesGiveTheSameValues) {
  std::vector<uint8_t> data(300007);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 167 + (i >> 7));
  for (size_t n : {0, 1, 31, 32, 55, 56, 64, 65, 4096, 300007}) {
    EXPECT_EQ(PackXxh64(data.data(), n), Xxh64(data.data(), n)) << n;
    const std::vector<uint8_t> prefix(data.begin(), data.begin() + n);
    for (size_t piece : {size_t{1000}, n + 1}) {
      if (n > 5000 && piece == 1000) piece = 4099;
      PackSha256 s;
      ASSERT_TRUE(PackSha256Begin(&s));
      for (size_t at = 0; at < n; at += piece)
        PackSha256Update(&s, prefix.data() + at, std::min(piece, n - at));
      uint8_t digest[32];
      ASSERT_TRUE(PackSha256End(&s, digest));
      EXPECT_EQ(Hex(digest, 32), Sha256Hex(prefix, 64)) << n << " in pieces of " << piece;
    }
  }
}

}  // namespace
