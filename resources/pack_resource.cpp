// pack-resource IN OUT: writes IN as an LZMS buffered container (one chunk,
// strongest level), the form in which the setup program carries its fonts.
// The program expands them once at start-up; see toolkit/assets.cpp.
#include <cstdio>
#include <string>
#include <vector>

#include "codec/lzms.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: pack-resource IN OUT\n");
    return 2;
  }
  std::vector<uint8_t> data;
  FILE* in = fopen(argv[1], "rb");
  if (in == nullptr) {
    fprintf(stderr, "pack-resource: cannot read %s\n", argv[1]);
    return 1;
  }
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) data.insert(data.end(), buffer, buffer + n);
  const bool readOk = !ferror(in);
  fclose(in);
  if (!readOk || data.empty()) {
    fprintf(stderr, "pack-resource: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::vector<uint8_t> packed = LzmsBufferedCompress(data.data(), data.size(), 0, LzmsLevel::kMax);
  std::vector<uint8_t> check(data.size());
  size_t actual = 0;
  if (!LzmsBufferedDecompress(packed.data(), packed.size(), check.data(), check.size(), &actual) ||
      actual != data.size() || check != data) {
    fprintf(stderr, "pack-resource: %s does not round-trip\n", argv[1]);
    return 1;
  }
  // Written beside, then renamed: a build cut short leaves no half file.
  const std::string tmp = std::string(argv[2]) + ".part";
  FILE* out = fopen(tmp.c_str(), "wb");
  bool ok = out != nullptr && fwrite(packed.data(), 1, packed.size(), out) == packed.size();
  if (out != nullptr) ok = fclose(out) == 0 && ok;
  if (!ok || rename(tmp.c_str(), argv[2]) != 0) {
    remove(tmp.c_str());
    fprintf(stderr, "pack-resource: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
