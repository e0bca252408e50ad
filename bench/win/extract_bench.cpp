// extract-bench extract SETUP DIR   ExtractPayload of SETUP into DIR, timed, as
//                                   one transaction like an install (into a
//                                   folder that holds an installed copy, it is
//                                   an update: every file replaced)
// extract-bench decode SETUP        only the block decoding of the same file
// Each mode prints one line of key=value figures; the extraction also
// reports the peak working set of this process and which decoder restored
// each block (S: the system's, B: the built-in one, R: the built-in one after
// the system's had refused the block).
#include <windows.h>
// after windows.h, whose types it uses
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/state.h"
#include "package/decompressor.h"
#include "package/package.h"
#include "package/transaction.h"
#include "package_format/layout.h"

namespace {

// CPU time of the whole process (user + kernel), in seconds: on a shared
// machine it shows the work done, whatever else competes for the cores; the
// extraction counts its writing thread too.
double ProcessCpuSeconds() {
  FILETIME creation, exit, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
  auto value = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string DecoderLetters() {
  std::string letters;
  for (BlockDecoder d : InstallerState.blockDecoders)
    letters += d == DecoderSystem ? 'S' : d == DecoderBuiltIn ? 'B' : 'R';
  return letters.empty() ? "-" : letters;
}

int Extract(const wchar_t* setup, const wchar_t* dir) {
  InstallerState.selfPath = setup;
  InstallerState.installDir = dir;
  if (!ReadPackageIndex()) {
    fprintf(stderr, "extract-bench: no package in %ls\n", setup);
    return 1;
  }
  LARGE_INTEGER start, end;
  const double cpuStart = ProcessCpuSeconds();
  QueryPerformanceCounter(&start);
  std::vector<std::wstring> names;
  InstallTransaction transaction;
  bool ok = ReadPackageEntryNames(&names) && BeginInstallTransaction(&transaction, dir, names, false) &&
            ExtractPayload(&transaction);
  if (ok)
    CommitInstallTransaction(&transaction);
  else
    RollBackInstallTransaction(&transaction);
  QueryPerformanceCounter(&end);
  const double cpu = ProcessCpuSeconds() - cpuStart;
  if (!ok) {
    fprintf(stderr, "extract-bench: extraction failed: %ls (blocks=%s)\n", InstallerState.errorText.c_str(),
            DecoderLetters().c_str());
    return 1;
  }
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  printf("mode=extract bytes=%llu seconds=%.4f cpu_seconds=%.4f peak_bytes=%llu blocks=%s\n",
         static_cast<unsigned long long>(InstallerState.bytesDone.load()), Seconds(start, end), cpu,
         static_cast<unsigned long long>(memory.PeakWorkingSetSize), DecoderLetters().c_str());
  return 0;
}

// Walks the package like the extraction does, timing only the decoder calls.
int Decode(const wchar_t* setup) {
  InstallerState.selfPath = setup;
  if (!ReadPackageIndex()) return 1;
  HANDLE file = CreateFileW(setup, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  PackageLayout layout;
  bool ok = ReadPackageLayout(FileSource(file), &layout) == PackageReason::kNone;
  BlockDecompressor decompressor;
  OpenBlockDecompressor(&decompressor);
  std::vector<uint8_t> input, output;
  double seconds = 0, cpu = 0;
  uint64_t bytes = 0;
  for (size_t b = 0; ok && b < layout.blocks.size(); ++b) {
    const uint32_t sizes[2] = {layout.blocks[b].rawSize, layout.blocks[b].packedSize};
    input.resize(sizes[1]);
    output.resize(sizes[0]);
    ok = ReadAt(file, layout.blocks[b].dataOffset, input.data(), sizes[1]);
    LARGE_INTEGER start, end;
    size_t actual = 0;
    const double cpuStart = ProcessCpuSeconds();
    QueryPerformanceCounter(&start);
    ok = ok &&
         DecompressBlock(&decompressor, input.data(), input.size(), output.data(), output.size(), &actual) &&
         actual == sizes[0];
    QueryPerformanceCounter(&end);
    cpu += ProcessCpuSeconds() - cpuStart;
    seconds += Seconds(start, end);
    bytes += sizes[0];
  }
  const bool system = UsesSystemDecompressor(&decompressor);
  CloseBlockDecompressor(&decompressor);
  CloseHandle(file);
  if (!ok) return 1;
  printf("mode=decode bytes=%llu seconds=%.4f cpu_seconds=%.4f decoder=%s\n",
         static_cast<unsigned long long>(bytes), seconds, cpu, system ? "system" : "built-in");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && wcscmp(argv[1], L"extract") == 0) return Extract(argv[2], argv[3]);
  if (argc == 3 && wcscmp(argv[1], L"decode") == 0) return Decode(argv[2]);
  fprintf(stderr, "usage: extract-bench extract SETUP DIR | decode SETUP\n");
  return 2;
}
