// The package as a setup program finds it on the user's machine: hostile
// bytes for the trailer search, the header, the entry table, the block list
// and the integrity section, then the names' rules and clashes. The input is
// read twice: as a whole file (trailer search behind a certificate table),
// and as the package bytes with a sound trailer appended, so that mutations
// reach the parsing behind the trailer at once.
//
// Beyond not crashing: a package that reads as sound must encode back to
// its own head bytes (the reader and the packer's writer agree).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package_format/entry_name.h"
#include "package_format/layout.h"

namespace {

void Exercise(const std::vector<uint8_t>& file) {
  const ByteSource source = MemorySource(file.data(), file.size());
  PackageLayout layout;
  const PackageReason reason = ReadPackageLayout(source, &layout);
  std::vector<std::string> names;
  for (const PackageEntryRecord& entry : layout.entries)
    if (IsInstallableEntryName(entry.name)) names.push_back(entry.name);
  FindNameClashes(names, false);
  FindNameClashes(names, true);
  FirstOversizedBlock(layout);
  uint64_t sum = 0;
  SumEntrySizes(layout.entries, &sum);
  if (reason != PackageReason::kNone) return;
  CheckPackageHeadSum(source, layout);
  const std::vector<uint8_t> head =
      EncodePackageHead(layout.version, layout.entries, layout.totalSize, layout.blockCount);
  if (head.size() != layout.headEnd - layout.offset ||
      memcmp(head.data(), &file[layout.offset], head.size()) != 0)
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  Exercise(file);
  const std::vector<uint8_t> trailer = EncodePackageTrailer(0, size);
  file.insert(file.end(), trailer.begin(), trailer.end());
  Exercise(file);
  return 0;
}
