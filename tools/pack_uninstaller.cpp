// The uninstaller's signature: when a build signs, the bare stub is signed
// as well (it is what the setup program writes as "uninstall.exe") and its
// certificate table is stored in the package (package_format/uninstaller_signature.cpp
// describes the section). list and verify check that the table belongs to
// the image: the digest inside its signature is the image's Authenticode
// hash.
#include <cstring>
#include <fstream>

#include "package_format/uninstaller_signature.h"
#include "tools/pack.h"
#include "tools/pack_hash.h"

namespace fs = std::filesystem;

namespace {

// One DER element: its tag and content.
struct Der {
  uint8_t tag = 0;
  const uint8_t* content = nullptr;
  size_t size = 0;
};

// Reads the element at *p (definite lengths only) and moves past it.
bool ReadDer(const uint8_t** p, const uint8_t* end, Der* der) {
  if (end - *p < 2) return false;
  der->tag = (*p)[0];
  size_t size = (*p)[1];
  const uint8_t* at = *p + 2;
  if (size & 0x80) {
    const size_t n = size & 0x7F;
    if (n == 0 || n > 4 || static_cast<size_t>(end - at) < n) return false;
    size = 0;
    for (size_t i = 0; i < n; ++i) size = size << 8 | *at++;
  }
  if (static_cast<size_t>(end - at) < size) return false;
  der->content = at;
  der->size = size;
  *p = at + size;
  return true;
}

bool IsOid(const Der& der, const std::vector<uint8_t>& oid) {
  return der.tag == 0x06 && der.size == oid.size() && memcmp(der.content, oid.data(), oid.size()) == 0;
}

// A cursor over the elements inside `der`.
struct DerCursor {
  const uint8_t* p;
  const uint8_t* end;
  explicit DerCursor(const Der& der) : p(der.content), end(der.content + der.size) {}
  bool Next(Der* der, int tag = -1) { return ReadDer(&p, end, der) && (tag < 0 || der->tag == tag); }
};

// The SHA-256 digest that the PKCS#7 signed data of a certificate table
// signs (its SpcIndirectDataContent's DigestInfo); empty on anything else.
std::string SignedDigest(const uint8_t* table, uint32_t tableSize, std::vector<uint8_t>* digest) {
  const std::vector<uint8_t> indirectData = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
  const std::vector<uint8_t> sha256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
  const std::string notSigned = "its signature is not Authenticode signed data";
  uint32_t length = 0;
  memcpy(&length, table, 4);
  if (length < 8 || length > tableSize) return notSigned;
  Der whole{0x30, table + 8, length - 8u}, contentInfo, skip, wrapped, signedData, inner, oid, indirect, spc,
      digestInfo, algorithm, octets;
  // ContentInfo { signedData OID, [0] SignedData }
  if (!DerCursor(whole).Next(&contentInfo, 0x30)) return notSigned;
  DerCursor top(contentInfo);
  if (!top.Next(&skip) || !top.Next(&wrapped, 0xA0) || !DerCursor(wrapped).Next(&signedData, 0x30))
    return notSigned;
  // SignedData { version, digest algorithms, ContentInfo { SPC_INDIRECT_DATA OID, [0] content }, ... }
  DerCursor data(signedData);
  if (!data.Next(&skip) || !data.Next(&skip) || !data.Next(&inner, 0x30)) return notSigned;
  DerCursor content(inner);
  if (!content.Next(&oid) || !IsOid(oid, indirectData) || !content.Next(&indirect, 0xA0) ||
      !DerCursor(indirect).Next(&spc, 0x30))
    return notSigned;
  // SpcIndirectDataContent { data, DigestInfo { AlgorithmIdentifier { OID, ... }, digest } }
  DerCursor indirectContent(spc);
  if (!indirectContent.Next(&skip) || !indirectContent.Next(&digestInfo, 0x30)) return notSigned;
  DerCursor info(digestInfo);
  if (!info.Next(&algorithm, 0x30) || !DerCursor(algorithm).Next(&oid, 0x06) || !info.Next(&octets, 0x04))
    return notSigned;
  if (!IsOid(oid, sha256) || octets.size != 32) return "its signature's digest is not SHA-256";
  digest->assign(octets.content, octets.content + octets.size);
  return {};
}

// The Authenticode SHA-256 of `image` signed with a table at tableOffset:
// every byte but the checksum field and the certificate-table entry, then
// the zero padding before the table.
std::string ImageDigest(const std::vector<uint8_t>& image, uint32_t tableOffset,
                        std::vector<uint8_t>* digest) {
  uint64_t checksum = 0, entry = 0;
  if (!LocatePeFields(image.data(), image.size(), &checksum, &entry)) return "the image is not a PE file";
  PackSha256 sha;
  if (!PackSha256Begin(&sha)) return "the SHA-256 of the stub could not be computed";
  PackSha256Update(&sha, image.data(), checksum);
  PackSha256Update(&sha, image.data() + checksum + 4, entry - checksum - 4);
  PackSha256Update(&sha, image.data() + entry + 8, image.size() - entry - 8);
  const std::vector<uint8_t> zeros(tableOffset - image.size(), 0);
  PackSha256Update(&sha, zeros.data(), zeros.size());
  digest->resize(32);
  if (!PackSha256End(&sha, digest->data())) return "the SHA-256 of the stub could not be computed";
  return {};
}

bool ReadWhole(const fs::path& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

}  // namespace

std::string CheckUninstallerSignature(const std::vector<uint8_t>& section,
                                      const std::vector<uint8_t>& image) {
  UninstallerSignature signature;
  std::string why = ParseUninstallerSignature(section.data(), section.size(), &signature);
  if (!why.empty()) return why;
  if (signature.imageSize != image.size())
    return "it was made for an image of " + std::to_string(signature.imageSize) + " bytes, the stub has " +
           std::to_string(image.size());
  std::vector<uint8_t> signedDigest, imageDigest;
  why = SignedDigest(signature.table, signature.tableSize, &signedDigest);
  if (why.empty()) why = ImageDigest(image, signature.tableOffset, &imageDigest);
  if (why.empty() && signedDigest != imageDigest)
    why = "its digest is not the stub's (signed for another image)";
  return why;
}

fs::path UninstallerStubTemp(const fs::path& out, bool signedCopy) {
  return fs::path(out).concat(signedCopy ? ".stub-signed" : ".stub");
}

bool MakeUninstallerSignature(const PackOptions& options, const std::vector<uint8_t>& stub,
                              std::vector<uint8_t>* section, std::string* error) {
  const fs::path bare = UninstallerStubTemp(options.out, false),
                 signedStub = UninstallerStubTemp(options.out, true);
  std::error_code ec;
  std::ofstream out(bare, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(stub.data()), static_cast<std::streamsize>(stub.size()));
  out.close();
  std::vector<uint8_t> bytes;
  const bool made = out && SignFile(bare, signedStub, options.signCert, options.signKey, error) &&
                    ReadWhole(signedStub, &bytes);
  fs::remove(bare, ec);
  fs::remove(signedStub, ec);
  if (!made) {
    *error = "cannot sign the uninstaller: " + (error->empty() ? "cannot write " + bare.string() : *error);
    return false;
  }
  // The signer must have left the layout the setup program rebuilds: the
  // image unchanged but for its checksum and entry, zeros up to a multiple
  // of 8, the table to the end.
  uint64_t checksum = 0, entry = 0;
  uint32_t table[2] = {};
  if (LocatePeFields(bytes.data(), bytes.size(), &checksum, &entry)) memcpy(table, &bytes[entry], 8);
  const uint64_t image = stub.size(), tableOffset = (image + 7) / 8 * 8;
  bool same = table[0] == tableOffset && uint64_t{table[0]} + table[1] == bytes.size();
  for (uint64_t i = 0; same && i < tableOffset; ++i)
    same = (i >= checksum && i < checksum + 4) || (i >= entry && i < entry + 8) ||
           bytes[i] == (i < image ? stub[i] : 0);
  if (!same) {
    *error = "the signed stub is not laid out as the setup program writes the uninstaller";
    return false;
  }
  *section = EncodeUninstallerSignature(image, &bytes[tableOffset], table[1]);
  const std::string why = CheckUninstallerSignature(*section, stub);
  if (!why.empty()) *error = "the uninstaller's signature does not fit the stub: " + why;
  return why.empty();
}

bool ReportUninstallerSignature(const fs::path& file, const PackageInfo& info, std::string* line) {
  const std::vector<uint8_t>& section = info.integrity.signature;
  if (section.empty()) {
    *line = "uninstaller signature: none (uninstall.exe is written unsigned)";
    return true;
  }
  std::vector<uint8_t> image(info.offset);
  std::ifstream in(file, std::ios::binary);
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  const std::string why = in ? CheckUninstallerSignature(section, image) : "the stub cannot be read";
  if (!why.empty()) {
    *line = "the uninstaller's signature (" + std::to_string(section.size()) +
            " bytes) does not belong to the stub: " + why;
    return false;
  }
  UninstallerSignature signature;
  ParseUninstallerSignature(section.data(), section.size(), &signature);
  *line = "uninstaller signature: certificate table of " + std::to_string(signature.tableSize) +
          " bytes for the " + std::to_string(signature.imageSize) + "-byte stub, at " +
          std::to_string(info.integrity.signatureOffset) + "; its SHA-256 digest is the stub's";
  return true;
}
