// verify-bench SETUP.exe: the packer's verification of a setup file against
// the decoding alone of the same blocks (read from the file the same way, on
// one thread, as the setup program decodes), elapsed time, best of a few
// rounds taken in turns. Prints
//   verify: seconds=V decode_only_seconds=D vs_decode_only=R cpu_seconds=C
// with R = D / V (1 would be checks for free) and C the processor time the
// verification took on all its threads (it hashes beside the decoding).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "codec/lzms.h"
#include "tools/pack.h"

namespace {

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool DecodeAlone(const char* file, const PackageInfo& info) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> packed, raw;
  for (const PackBlockInfo& block : info.blocks) {
    packed.resize(block.packedSize);
    raw.resize(block.rawSize);
    in.seekg(static_cast<std::streamoff>(block.dataOffset));
    in.read(reinterpret_cast<char*>(packed.data()), block.packedSize);
    size_t actual = 0;
    if (!in || !LzmsBufferedDecompress(packed.data(), packed.size(), raw.data(), raw.size(), &actual))
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: verify-bench SETUP.exe\n");
    return 2;
  }
  PackageInfo info;
  std::string error;
  if (!ReadPackageInfo(argv[1], &info, &error)) {
    fprintf(stderr, "verify-bench: %s\n", error.c_str());
    return 1;
  }
  double verify = 1e30, decode = 1e30, cpu = 1e30;
  for (int round = 0; round < 5; ++round) {
    double start = Seconds();
    if (!DecodeAlone(argv[1], info)) {
      fprintf(stderr, "verify-bench: a block does not decode\n");
      return 1;
    }
    decode = std::min(decode, Seconds() - start);
    start = Seconds();
    const double cpuStart = CpuSeconds();
    if (!VerifyPackage(argv[1], info, &error)) {
      fprintf(stderr, "verify-bench: %s\n", error.c_str());
      return 1;
    }
    verify = std::min(verify, Seconds() - start);
    cpu = std::min(cpu, CpuSeconds() - cpuStart);
  }
  printf("verify: seconds=%.3f decode_only_seconds=%.3f vs_decode_only=%.3f cpu_seconds=%.3f\n", verify,
         decode, decode / verify, cpu);
  return 0;
}
