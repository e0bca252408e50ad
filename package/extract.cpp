#include "package/extract.h"

#include <cstring>

#include "app/helpers.h"
#include "app/log.h"
#include "app/state.h"
#include "app/texts.h"
#include "package/block_memory.h"
#include "package/block_writer.h"
#include "package/decompressor.h"
#include "package/entry_name.h"
#include "package/integrity.h"
#include "package/package.h"
#include "package/transaction.h"

namespace {

// Whether a layout read this far holds the header and the whole entry table
// (what comes after them may still be damaged).
bool TableRead(PackageReason reason) {
  switch (reason) {
    case PackageReason::kNone:
    case PackageReason::kBlockCut:
    case PackageReason::kBlockCountTooLarge:
    case PackageReason::kSectionForeign:
    case PackageReason::kSectionVersion:
    case PackageReason::kSectionShape:
    case PackageReason::kSectionChecksum:
    case PackageReason::kSectionSettings:
    case PackageReason::kSectionBlockSizes:
    case PackageReason::kSectionSignature:
      return true;
    default:
      return false;
  }
}

// Reads the whole layout of the package and judges it before anything is
// written: null when it is sound, else the message to show. A damaged head,
// an unsafe or colliding name, or an integrity section that does not match
// is a damaged package; a block that does not fit in the package or is too
// large is reported as the block loop always has.
const wchar_t* ReadPackage(HANDLE file, PackageLayout* layout) {
  const ByteSource source = FileSource(file);
  const PackageReason reason = ReadPackageLayout(source, layout);
  if (!TableRead(reason)) return kDamagedSetupMessage;
  // The package that ReadPackageIndex found, not another one.
  if (layout->offset != InstallerState.payloadOffset) return kDamagedSetupMessage;
  std::vector<std::string> names;
  for (const PackageEntryRecord& entry : layout->entries) {
    if (!IsSafeEntryName(entry.name)) return kDamagedSetupMessage;
    names.push_back(entry.name);
  }
  if (EntriesCollide(names)) return kDamagedSetupMessage;
  if (reason == PackageReason::kBlockCut || reason == PackageReason::kBlockCountTooLarge ||
      FirstOversizedBlock(*layout) < layout->blocks.size())
    return kDamagedOrFullMessage;
  if (reason != PackageReason::kNone || CheckPackageHeadSum(source, *layout) != PackageReason::kNone)
    return kDamagedSetupMessage;
  return nullptr;
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
  PackageLayout layout;
  const bool read = TableRead(ReadPackageLayout(FileSource(file), &layout));
  CloseHandle(file);
  if (!read) return false;
  for (const PackageEntryRecord& entry : layout.entries)
    if (!IsSafeEntryName(entry.name)) return false;
  for (const PackageEntryRecord& entry : layout.entries) names->push_back(Utf8ToWide(entry.name));
  return true;
}

bool ExtractPayload(const InstallTransaction* transaction) {
  HANDLE file = CreateFileW(InstallerState.selfPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;

  ExtractCursor cursor;
  cursor.transaction = transaction;
  InstallerState.blockDecoders.clear();
  InstallerState.uninstallerSignatureOffset = InstallerState.uninstallerSignatureSize = 0;
  PackageLayout layout;
  if (const wchar_t* refusal = ReadPackage(file, &layout)) {
    CloseHandle(file);
    SetErrorText(refusal);
    return false;
  }
  for (const PackageEntryRecord& entry : layout.entries)
    cursor.entries.push_back(
        PackageEntry{InstallerState.installDir + L"\\" + Utf8ToWide(entry.name), entry.size});
  const uint32_t blockCount = static_cast<uint32_t>(layout.blocks.size());
  InstallerState.uninstallerSignatureOffset = layout.integrity.signatureOffset;
  InstallerState.uninstallerSignatureSize = layout.integrity.signature.size();

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
    const PackageBlock& block = layout.blocks[b];
    const uint32_t sizes[2] = {block.rawSize, block.packedSize};
    const uint64_t at = block.dataOffset;
    const uint8_t* in = nullptr;
    void* view = mapping ? MapBlockView(mapping, at, sizes[1], &in) : nullptr;
    if (!view) {
      // Reading into untouched memory is far slower than touching it first.
      bool grown = false;
      ok = ReserveBlockBuffer(&input, sizes[1], &grown);
      if (ok && grown) memset(input.bytes.get(), 0, sizes[1]);
      ok = ok && ReadAt(file, at, input.bytes.get(), sizes[1]);
      in = input.bytes.get();
    }
    bool newOutput = false;
    ok = ok && ReserveBlockBuffer(&output, sizes[0], &newOutput);
    if (!ok) {
      if (view) UnmapViewOfFile(view);
      break;
    }
    uint8_t* out = output.bytes.get();
    const BlockSums* sums = ExpectedBlockSums(layout.integrity, b);
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
    InstallerState.errorText = CannotWriteMessage(name);
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
