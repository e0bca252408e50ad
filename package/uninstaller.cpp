#include <vector>

#include "app/helpers.h"
#include "app/log.h"
#include "app/state.h"
#include "package/package.h"
#include "package/transaction.h"
#include "package_format/uninstaller_signature.h"

// "uninstall.exe" is the running executable cut where its package begins.
// The setup file's signature lies beyond the cut, so the certificate-table
// entry that points to it is cleared. When the package stores a signature
// made for that bare image (package_format/uninstaller_signature.cpp), the
// uninstaller carries it instead: zero bytes up to a multiple of 8, the
// table, the entry pointing to it and the PE checksum recomputed, as a
// signing tool leaves a file. Every other byte is copied unchanged.

namespace {

// An 8-byte field to change while the image is copied.
struct Patch {
  uint64_t offset = 0;
  uint8_t bytes[8] = {};
  uint32_t size = 0;
};

void ApplyPatch(const Patch& patch, uint64_t chunkStart, uint8_t* chunk, uint64_t n) {
  for (uint32_t i = 0; i < patch.size; ++i)
    if (patch.offset + i >= chunkStart && patch.offset + i < chunkStart + n)
      chunk[patch.offset + i - chunkStart] = patch.bytes[i];
}

// The package's signature for this image: the section's bytes, parsed, and
// where its checksum field lies. False (with a log line saying why) when the
// package has none or it does not fit the image; the uninstaller is then
// written unsigned.
bool LoadSignature(HANDLE self, std::vector<uint8_t>* section, UninstallerSignature* signature,
                   uint64_t* checksumOffset) {
  if (InstallerState.uninstallerSignatureSize == 0) return false;
  const uint64_t image = InstallerState.payloadOffset;
  std::string why;
  std::vector<uint8_t> head(static_cast<size_t>(image < 65536 ? image : 65536));
  uint64_t entryOffset = 0;
  if (InstallerState.uninstallerSignatureSize >
      kUninstallerSignatureHeadSize + kUninstallerSignatureMaxTable) {
    why = "a section larger than any table";
  } else {
    section->resize(static_cast<size_t>(InstallerState.uninstallerSignatureSize));
    if (!ReadAt(self, InstallerState.uninstallerSignatureOffset, section->data(),
                static_cast<DWORD>(section->size())) ||
        !ReadAt(self, 0, head.data(), static_cast<DWORD>(head.size())))
      why = "the section cannot be read";
    else
      why = ParseUninstallerSignature(section->data(), section->size(), signature);
  }
  if (why.empty() && signature->imageSize != image)
    why = "made for an image of " + std::to_string(signature->imageSize) + " bytes, not " +
          std::to_string(image);
  if (why.empty() && (!LocatePeFields(head.data(), head.size(), checksumOffset, &entryOffset) ||
                      entryOffset != CertificateEntryOffset(self)))
    why = "the image's PE header does not hold a certificate-table entry";
  if (why.empty()) return true;
  LogLine(L"uninstall.exe: the package's signature for it is not used (" +
          std::wstring(why.begin(), why.end()) + L"): written unsigned");
  return false;
}

bool WriteAll(HANDLE out, const uint8_t* bytes, DWORD n) {
  DWORD put = 0;
  return WriteFile(out, bytes, n, &put, nullptr) && put == n;
}

}  // namespace

bool WriteUninstaller(const InstallTransaction* transaction) {
  HANDLE self = CreateFileW(InstallerState.selfPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (self == INVALID_HANDLE_VALUE) return false;
  const std::wstring path = InstallerState.installDir + L"\\" + kUninstallerName;
  HANDLE out = MoveAsideBeforeWrite(transaction, path) ? CreateOutputFile(path) : INVALID_HANDLE_VALUE;
  bool ok = out != INVALID_HANDLE_VALUE;

  const uint64_t image = InstallerState.payloadOffset;
  std::vector<uint8_t> section;
  UninstallerSignature signature;
  uint64_t checksumOffset = 0;
  const bool sign = ok && LoadSignature(self, &section, &signature, &checksumOffset);
  Patch entry, checksum;
  entry.offset = CertificateEntryOffset(self);
  entry.size = entry.offset != 0 && entry.offset + 8 <= image ? 8 : 0;  // zeros unless signed
  if (sign) {
    memcpy(entry.bytes, &signature.tableOffset, 4);
    memcpy(entry.bytes + 4, &signature.tableSize, 4);
    checksum.offset = checksumOffset;
    checksum.size = 4;  // counted as zero, written at the end
  }

  PeChecksum sum;
  std::vector<uint8_t> buffer;
  if (ok) buffer.resize(0x100000);
  if (ok) ok = SetFilePointerEx(self, LARGE_INTEGER{}, nullptr, FILE_BEGIN);
  for (uint64_t done = 0; ok && done < image;) {
    const DWORD n = static_cast<DWORD>(image - done < buffer.size() ? image - done : buffer.size());
    ok = ReadExact(self, buffer.data(), n);
    ApplyPatch(entry, done, buffer.data(), n);
    ApplyPatch(checksum, done, buffer.data(), n);
    if (sign) PeChecksumUpdate(&sum, buffer.data(), n);
    ok = ok && WriteAll(out, buffer.data(), n);
    done += n;
  }

  if (ok && sign) {
    const uint8_t zeros[8] = {};
    const DWORD padding = static_cast<DWORD>(signature.tableOffset - image);
    PeChecksumUpdate(&sum, zeros, padding);
    PeChecksumUpdate(&sum, signature.table, signature.tableSize);
    const uint32_t value = PeChecksumEnd(sum);
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(checksumOffset);
    ok = WriteAll(out, zeros, padding) && WriteAll(out, signature.table, signature.tableSize) &&
         SetFilePointerEx(out, at, nullptr, FILE_BEGIN) &&
         WriteAll(out, reinterpret_cast<const uint8_t*>(&value), 4);
    if (ok)
      LogFormat(L"uninstall.exe signed: certificate table of %u bytes at %u, PE checksum %08X",
                signature.tableSize, signature.tableOffset, value);
  }

  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  CloseHandle(self);
  return ok;
}
