// Compresses and decompresses one corpus with our LZMS codec and with wimlib's
// (default level), checks every result against the input, prints a table per
// file and a summary line of ratios. Times are CPU time of this process, so a
// busy machine slows both sides alike.
#include <wimlib.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "codec/lzms.h"

namespace {

using Bytes = std::vector<uint8_t>;

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

Bytes ReadFile(const char* path, size_t limit) {
  Bytes v;
  if (FILE* f = std::fopen(path, "rb")) {
    v.resize(limit);
    v.resize(std::fread(v.data(), 1, limit, f));
    std::fclose(f);
  }
  return v;
}

// Text from a fixed word list and seed: sentences with repeated phrases.
Bytes Text(size_t n, uint32_t seed) {
  static const char* words[] = {"the",      "installer", "writes",   "files",   "into",         "folder",
                                "of",       "and",       "a",        "package", "block",        "is",
                                "read",     "from",      "setup",    "program", "user",         "window",
                                "progress", "shortcut",  "registry", "entry",   "le",           "fichier",
                                "dossier",  "est",       "une",      "pour",    "mot de passe", "coffre",
                                "Norvale",  "Lockra",    "version",  "update",  "uninstall",    "value"};
  std::mt19937 rng(seed);
  Bytes v;
  std::string line;
  while (v.size() < n) {
    const size_t words_in_line = 4 + rng() % 12;
    line.clear();
    for (size_t i = 0; i < words_in_line; ++i) {
      line += words[rng() % (sizeof words / sizeof *words)];
      if (rng() % 11 == 0) line += " " + std::to_string(rng() % 10000);
      line += i + 1 < words_in_line ? " " : ".\n";
    }
    if (rng() % 5 == 0) line = "  - " + line;
    v.insert(v.end(), line.begin(), line.end());
  }
  v.resize(n);
  return v;
}

// 16-bit stereo samples of two slow waves with noise: delta-match territory.
Bytes Audio(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes v(n);
  int32_t a = 0, b = 0, da = 7, db = -5;
  for (size_t i = 0; i + 4 <= n; i += 4) {
    if (i % 4096 == 0) da = static_cast<int32_t>(rng() % 31) - 15, db = static_cast<int32_t>(rng() % 31) - 15;
    a += da + static_cast<int32_t>(rng() % 3) - 1;
    b += db;
    const uint16_t l = static_cast<uint16_t>(a), r = static_cast<uint16_t>(b);
    v[i] = static_cast<uint8_t>(l), v[i + 1] = static_cast<uint8_t>(l >> 8);
    v[i + 2] = static_cast<uint8_t>(r), v[i + 3] = static_cast<uint8_t>(r >> 8);
  }
  return v;
}

// An archive-like mix: text, binary, samples, noise and padding in pieces.
Bytes Mixed(size_t n, const Bytes& binary, uint32_t seed) {
  std::mt19937 rng(seed);
  const Bytes text = Text(1 << 20, seed + 1), audio = Audio(1 << 20, seed + 2);
  Bytes v;
  while (v.size() < n) {
    const size_t piece = 4096 + rng() % 200000;
    switch (rng() % 5) {
      case 0: {
        const size_t at = rng() % (text.size() - piece % text.size());
        v.insert(v.end(), text.begin() + at, text.begin() + at + piece % text.size());
        break;
      }
      case 1:
        if (binary.size() > piece) {
          const size_t at = rng() % (binary.size() - piece);
          v.insert(v.end(), binary.begin() + at, binary.begin() + at + piece);
        }
        break;
      case 2: {
        const size_t len = piece % audio.size();
        v.insert(v.end(), audio.begin(), audio.begin() + len);
        break;
      }
      case 3:
        for (size_t i = 0; i < piece / 4; ++i) v.push_back(static_cast<uint8_t>(rng()));
        break;
      default:
        v.insert(v.end(), piece / 8, 0);
    }
  }
  v.resize(n);
  return v;
}

struct Result {
  size_t ours = 0, theirs = 0;
  double ourEnc = 0, theirEnc = 0, ourDec = 0, theirDec = 0;  // seconds
  bool ok = true;
};

Result Measure(const Bytes& data) {
  Result r;
  const size_t n = data.size();
  double t = CpuSeconds();
  const Bytes ours = LzmsCompress(data.data(), n);
  r.ourEnc = CpuSeconds() - t;
  r.ours = ours.size();

  wimlib_compressor* c = nullptr;
  wimlib_decompressor* d = nullptr;
  wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, n, 0, &c);
  wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, n, &d);
  Bytes theirs(n + n / 8 + 4096);
  t = CpuSeconds();
  theirs.resize(wimlib_compress(data.data(), n, theirs.data(), theirs.size(), c));
  r.theirEnc = CpuSeconds() - t;
  r.theirs = theirs.empty() ? n : theirs.size();

  // Decoding is quick: repeat it, both decoders on the same (wimlib's) stream.
  Bytes out(n);
  const int rounds = 5;
  t = CpuSeconds();
  for (int i = 0; i < rounds; ++i) r.ok &= LzmsDecompress(theirs.data(), theirs.size(), out.data(), n);
  r.ourDec = (CpuSeconds() - t) / rounds;
  r.ok &= out == data;
  t = CpuSeconds();
  for (int i = 0; i < rounds; ++i)
    r.ok &= wimlib_decompress(theirs.data(), theirs.size(), out.data(), n, d) == 0;
  r.theirDec = (CpuSeconds() - t) / rounds;
  // Our stream, read back by both decoders.
  r.ok &= LzmsDecompress(ours.data(), ours.size(), out.data(), n) && out == data;
  r.ok &= wimlib_decompress(ours.data(), ours.size(), out.data(), n, d) == 0 && out == data;
  wimlib_free_compressor(c);
  wimlib_free_decompressor(d);
  return r;
}

}  // namespace

int main() {
  struct Entry {
    std::string name;
    Bytes data;
  };
  std::vector<Entry> corpus;
  Bytes dll = ReadFile("/usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll", 6 << 20);
  Bytes dll2 = ReadFile("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/comctl32.dll", 6 << 20);
  corpus.push_back({"text (generated)", Text(4 << 20, 1)});
  if (!dll.empty()) corpus.push_back({"x86-64 libstdc++-6.dll", dll});
  if (!dll2.empty()) corpus.push_back({"x86-64 comctl32.dll", dll2});
  corpus.push_back({"mixed archive", Mixed(6 << 20, dll.empty() ? dll2 : dll, 3)});
  corpus.push_back({"16-bit samples", Audio(2 << 20, 4)});

  std::printf("%-24s %9s %9s %9s %6s | %8s %8s | %8s %8s\n", "file", "size", "ours", "wimlib", "ratio",
              "enc MB/s", "wimlib", "dec MB/s", "wimlib");
  Result total;
  bool ok = true;
  double bytes = 0;
  for (const Entry& e : corpus) {
    const Result r = Measure(e.data);
    const double mb = static_cast<double>(e.data.size()) / 1e6;
    std::printf("%-24s %9zu %9zu %9zu %6.3f | %8.2f %8.2f | %8.1f %8.1f%s\n", e.name.c_str(), e.data.size(),
                r.ours, r.theirs, static_cast<double>(r.ours) / static_cast<double>(r.theirs), mb / r.ourEnc,
                mb / r.theirEnc, mb / r.ourDec, mb / r.theirDec, r.ok ? "" : "  MISMATCH");
    ok &= r.ok;
    bytes += mb;
    total.ours += r.ours, total.theirs += r.theirs;
    total.ourEnc += r.ourEnc, total.theirEnc += r.theirEnc, total.ourDec += r.ourDec,
        total.theirDec += r.theirDec;
  }
  std::printf("%-24s %9.0f %9zu %9zu %6.3f | %8.2f %8.2f | %8.1f %8.1f\n", "total", bytes * 1e6, total.ours,
              total.theirs, static_cast<double>(total.ours) / static_cast<double>(total.theirs),
              bytes / total.ourEnc, bytes / total.theirEnc, bytes / total.ourDec, bytes / total.theirDec);
  std::printf("lzms: size_vs_wimlib=%.3f decode_speed_vs_wimlib=%.3f encode_speed_vs_wimlib=%.3f\n",
              static_cast<double>(total.ours) / static_cast<double>(total.theirs),
              total.theirDec / total.ourDec, total.theirEnc / total.ourEnc);
  return ok ? 0 : 1;
}
