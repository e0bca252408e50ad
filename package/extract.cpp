#include "package/extract.h"

#include <cstring>

#include "app/helpers.h"
#include "app/log.h"
#include "app/state.h"
#include "package/block_memory.h"
#include "package/block_writer.h"
#include "package/decompressor.h"
#include "package/entry_name.h"
#include "package/integrity.h"
#include "package/package.h"
#include "package/transaction.h"

namespace {

const wchar_t kDamagedOrFullMessage[] =
    L"Installateur endommagé ou disque plein : téléchargez-le de nouveau.";

// The offset of the trailer that belongs to the package at payloadOffset, so
// that no block may claim bytes beyond it. The file size when the trailer
// cannot be found again (the block reads then fail on their own).
uint64_t PackageEndOffset(HANDLE file, uint64_t payloadOffset) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return 0;
  const uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
  const uint64_t end = PackageSearchEnd(file, fileSize);
  for (uint64_t i = 0; i < 8 && end >= i + 24; ++i) {
    uint8_t trailer[24];
    if (!ReadAt(file, end - i - 24, trailer, sizeof trailer) || memcmp(trailer + 16, "HLVXPAK1", 8) != 0)
      continue;
    uint64_t offset, length;
    memcpy(&offset, trailer, 8);
    memcpy(&length, trailer + 8, 8);
    if (offset == payloadOffset && length <= end - i - 24 - offset) return offset + length;
    break;
  }
  return fileSize;
}

// Reads the header and the entry table. False when a read fails, the header
// is not one (a damaged setup file that runs as an installer all the same:
// see CarriesUnreadablePackage) or a name is unsafe; nothing is written
// before this ends.
bool ReadEntryTable(HANDLE file, std::vector<PackageEntry>* entries, uint32_t* blockCount) {
  uint8_t magic[4];
  uint32_t format = 0, versionLength = 0, count = 0;
  uint64_t total = 0;
  if (!ReadAt(file, InstallerState.payloadOffset, magic, 4) || memcmp(magic, "HLVX", 4) != 0 ||
      !ReadExact(file, &format, 4) || format != 1 || !ReadExact(file, &versionLength, 4) ||
      versionLength >= 64)
    return false;
  char version[64];
  if (!ReadExact(file, version, versionLength) || !ReadExact(file, &total, 8) || !ReadExact(file, &count, 4))
    return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t nameLength = 0;
    uint64_t size = 0;
    if (!ReadExact(file, &nameLength, 2)) return false;
    std::string name(nameLength, '\0');
    if (!ReadExact(file, name.data(), nameLength) || !ReadExact(file, &size, 8)) return false;
    if (!IsSafeEntryName(name)) return false;
    entries->push_back(PackageEntry{InstallerState.installDir + L"\\" + Utf8ToWide(name), size});
  }
  return ReadExact(file, blockCount, 4);
}

// What the decoder's progress reports reach: the writer, which follows the
// decoded bytes, and the toucher, which keeps new memory ahead of them.
struct BlockProgress {
  BlockWriter* writer;
  PageToucher* toucher;
};

size_t OnDecoded(void* context, size_t decoded, size_t need) {
  auto* progress = static_cast<BlockProgress*>(context);
  if (!ReportDecoded(progress->writer, decoded)) return 0;
  return WaitForPages(progress->toucher, need);
}

}  // namespace

bool IsSafeEntryName(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
  if (name.find("..") != std::string::npos || name.find(':') != std::string::npos) return false;
  for (unsigned char c : name)
    if (c < 0x20) return false;
  return IsWindowsEntryName(name);
}

void AdvanceToNextFile(ExtractCursor* cursor) {
  if (cursor->handle != INVALID_HANDLE_VALUE) CloseHandle(cursor->handle);
  cursor->handle = INVALID_HANDLE_VALUE;
  while (++cursor->index < cursor->entries.size()) {
    const PackageEntry& entry = cursor->entries[cursor->index];
    if (MoveAsideBeforeWrite(cursor->transaction, entry.path)) cursor->handle = CreateOutputFile(entry.path);
    if (cursor->handle == INVALID_HANDLE_VALUE) {
      LogFailure(L"extraction: cannot create", entry.path);
      cursor->failedPath = entry.path;
      return;
    }
    cursor->bytesLeft = entry.size;
    SetStatus(entry.path.substr(InstallerState.installDir.size() + 1));
    if (cursor->bytesLeft > 0) return;
    CloseHandle(cursor->handle);
    cursor->handle = INVALID_HANDLE_VALUE;
  }
}

bool ReadPackageEntryNames(std::vector<std::wstring>* names) {
  HANDLE file = CreateFileW(InstallerState.selfPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<PackageEntry> entries;
  uint32_t blockCount = 0;
  const bool ok = ReadEntryTable(file, &entries, &blockCount);
  CloseHandle(file);
  if (!ok) return false;
  const size_t prefix = InstallerState.installDir.size() + 1;
  for (const PackageEntry& entry : entries) names->push_back(entry.path.substr(prefix));
  return true;
}

bool ExtractPayload(const InstallTransaction* transaction) {
  HANDLE file = CreateFileW(InstallerState.selfPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;

  ExtractCursor cursor;
  cursor.transaction = transaction;
  uint32_t blockCount = 0;
  InstallerState.blockDecoders.clear();
  const uint64_t packageEnd = PackageEndOffset(file, InstallerState.payloadOffset);
  PackageIntegrity integrity;
  if (!ReadEntryTable(file, &cursor.entries, &blockCount) || EntriesCollide(cursor.entries) ||
      !ReadPackageIntegrity(file, InstallerState.payloadOffset, blockCount, packageEnd, &integrity)) {
    CloseHandle(file);
    SetErrorText(kDamagedSetupMessage);
    return false;
  }

  LogFormat(L"extraction: %zu entries, %u blocks, %llu bytes", cursor.entries.size(), blockCount,
            InstallerState.bytesTotal.load());
  BlockDecompressor decompressor;
  OpenBlockDecompressor(&decompressor);

  if (!cursor.entries.empty()) {
    if (MoveAsideBeforeWrite(transaction, cursor.entries[0].path))
      cursor.handle = CreateOutputFile(cursor.entries[0].path);
    if (cursor.handle == INVALID_HANDLE_VALUE) {
      LogFailure(L"extraction: cannot create", cursor.entries[0].path);
      cursor.failedPath = cursor.entries[0].path;
    } else {
      cursor.bytesLeft = cursor.entries[0].size;
      if (cursor.bytesLeft == 0) AdvanceToNextFile(&cursor);
    }
  }

  // The files are written on a thread of their own while the blocks decode.
  BlockWriter writer;
  bool ok = StartBlockWriter(&writer, &cursor);
  // Null when the file cannot be mapped: the blocks are read then.
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  BlockBuffer input, output;
  for (uint32_t b = 0; b < blockCount && ok && cursor.failedPath.empty(); ++b) {
    uint32_t sizes[2] = {};  // raw, compressed
    LARGE_INTEGER here{}, zero{};
    ok = ReadExact(file, sizes, 8) && sizes[0] <= kMaxBlockRawSize &&
         SetFilePointerEx(file, zero, &here, FILE_CURRENT) &&
         static_cast<uint64_t>(here.QuadPart) <= packageEnd &&
         sizes[1] <= packageEnd - static_cast<uint64_t>(here.QuadPart);
    if (!ok) break;
    const uint64_t at = static_cast<uint64_t>(here.QuadPart);
    const uint8_t* in = nullptr;
    void* view = mapping ? MapBlockView(mapping, at, sizes[1], &in) : nullptr;
    if (view) {
      LARGE_INTEGER next{};
      next.QuadPart = static_cast<LONGLONG>(at + sizes[1]);
      ok = SetFilePointerEx(file, next, nullptr, FILE_BEGIN);
    } else {
      // Reading into untouched memory is far slower than touching it first.
      bool grown = false;
      ok = ReserveBlockBuffer(&input, sizes[1], &grown);
      if (ok && grown) memset(input.bytes.get(), 0, sizes[1]);
      ok = ok && ReadExact(file, input.bytes.get(), sizes[1]);
      in = input.bytes.get();
    }
    bool newOutput = false;
    ok = ok && ReserveBlockBuffer(&output, sizes[0], &newOutput);
    if (!ok) {
      if (view) UnmapViewOfFile(view);
      break;
    }
    uint8_t* out = output.bytes.get();
    const BlockSums* sums = ExpectedBlockSums(integrity, b);
    PageToucher toucher;
    StartPageToucher(&toucher, out, sizes[0], newOutput, view ? in : nullptr, sizes[1]);
    // The system's decompressor writes where it likes (all pages first), and
    // its bytes are final before the writer sees any: a refusal, or bytes
    // that miss the block's checksums, leave the block to the built-in
    // decoder; only when that one refuses it too is the package damaged.
    BlockDecoder served = DecoderBuiltIn;
    if (UsesSystemDecompressor(&decompressor)) {
      WaitForPages(&toucher, sizes[0]);
      const bool whole = SystemDecompressBlock(&decompressor, in, sizes[1], out, sizes[0]) &&
                         BlockMatchesSums(sums, in, sizes[1], out, sizes[0]);
      served = whole ? DecoderSystem : DecoderBuiltInAfterSystem;
    }
    InstallerState.blockDecoders.push_back(served);
    const bool system = served == DecoderSystem;
    BeginBlock(&writer, in, sizes[1], out, sizes[0], system, system ? nullptr : sums);
    BlockProgress progress{&writer, &toucher};
    size_t actual = 0;
    if (system) ReportDecoded(&writer, sizes[0]);  // a failed writer shows when the block ends
    const bool decoded =
        system || (LzmsBufferedDecode(in, sizes[1], out, sizes[0], &actual, OnDecoded, &progress) &&
                   actual == sizes[0]);
    StopPageToucher(&toucher);
    ok = EndBlock(&writer, decoded);
    if (!ok) LogFormat(L"extraction: block %u of %u does not decode to the packed bytes", b + 1, blockCount);
    if (view) UnmapViewOfFile(view);
  }
  StopBlockWriter(&writer);
  // A stream that ends before every entry is complete is as damaged as a
  // block that fails: the install must not report the files as written.
  const bool complete = cursor.handle == INVALID_HANDLE_VALUE && cursor.index >= cursor.entries.size();

  if (cursor.handle != INVALID_HANDLE_VALUE) CloseHandle(cursor.handle);
  CloseBlockDecompressor(&decompressor);
  if (mapping) CloseHandle(mapping);
  CloseHandle(file);

  std::lock_guard<std::mutex> lock(InstallerState.statusMutex);
  if (!cursor.failedPath.empty()) {
    const size_t slash = cursor.failedPath.find_last_of(L'\\');
    const std::wstring name =
        slash == std::wstring::npos ? cursor.failedPath : cursor.failedPath.substr(slash + 1);
    InstallerState.errorText = L"Impossible d'écrire " + name +
                               L" : le fichier est peut-être utilisé. Fermez " + kProductName +
                               L" puis réessayez.";
    return false;
  }
  if (!writer.sumOk) {
    InstallerState.errorText = kDamagedSetupMessage;  // bytes other than were packed: not the disk
    return false;
  }
  if (!ok || !complete) {
    InstallerState.errorText = kDamagedOrFullMessage;
    return false;
  }
  return true;
}
