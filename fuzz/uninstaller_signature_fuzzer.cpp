// The uninstaller's signature section and the PE fields the setup program
// patches, read from arbitrary bytes: a section that parses must name a
// table inside the input that fits the limits it promises.
#include <cstdint>
#include <cstdlib>

#include "package_format/uninstaller_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  UninstallerSignature signature;
  if (ParseUninstallerSignature(data, size, &signature).empty()) {
    if (signature.table != data + kUninstallerSignatureHeadSize ||
        signature.tableSize != size - kUninstallerSignatureHeadSize || signature.tableOffset % 8 != 0 ||
        signature.tableOffset < signature.imageSize ||
        uint64_t{signature.tableOffset} + signature.tableSize > UINT32_MAX)
      abort();
    volatile uint8_t last = signature.table[signature.tableSize - 1];
    (void)last;
  }
  uint64_t checksum = 0, entry = 0;
  if (LocatePeFields(data, size, &checksum, &entry) && (checksum + 4 > entry || entry + 8 > size)) abort();
  PeChecksum sum;
  PeChecksumUpdate(&sum, data, size / 2);
  PeChecksumUpdate(&sum, data + size / 2, size - size / 2);
  (void)PeChecksumEnd(sum);
  return 0;
}
