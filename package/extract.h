// The streaming extraction's own types: the entry list built from the
// package's table, and the cursor that walks the output files while the
// decompressed blocks are spread over them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/entry_name.h"  // IsSafeEntryName, for the readers of the install record

struct PackageEntry {
  std::wstring path;  // installDir + "\" + the entry's name
  uint64_t size = 0;
};

struct InstallTransaction;

struct ExtractCursor {
  const InstallTransaction* transaction = nullptr;  // moves replaced files aside first
  HANDLE handle = INVALID_HANDLE_VALUE;
  size_t index = 0;  // the entry being written
  std::vector<PackageEntry> entries;
  std::wstring failedPath;  // the output file that could not be opened
  uint64_t bytesLeft = 0;   // still to write into the current file
};

// Closes the current file and opens the next entry that is not empty
// (creating the empty ones it passes on the way).
void AdvanceToNextFile(ExtractCursor* cursor);
