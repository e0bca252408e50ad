// Compresses and decompresses one corpus with our LZMS codec (both levels) and
// with wimlib's (its default level), checks that both decoders restore every
// stream, prints a table per file and two summary lines of ratios, the
// stronger level's first. Times are CPU time of this process, the best of a
// few rounds in which the contenders take turns, so that a busy machine slows
// both sides alike.
#include <wimlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
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

// Best-of rounds, the contenders taking turns: best[k] gets the least CPU
// time of works[k] over `rounds` runs (work k runs in the first rounds[k] of
// them). A shared machine slows down and speeds up over minutes; in turns, a
// slow spell falls on every side alike instead of on whichever ran then.
template <size_t N, class Work>
void BestOfInTurns(const int (&rounds)[N], Work (&works)[N], double (&best)[N]) {
  const int most = *std::max_element(rounds, rounds + N);
  for (size_t k = 0; k < N; ++k) best[k] = 1e30;
  for (int i = 0; i < most; ++i)
    for (size_t k = 0; k < N; ++k) {
      if (i >= rounds[k]) continue;
      const double t = CpuSeconds();
      works[k]();
      best[k] = std::min(best[k], CpuSeconds() - t);
    }
}

struct Result {
  size_t ours = 0, max = 0, theirs = 0;
  double ourEnc = 0, maxEnc = 0, theirEnc = 0, ourDec = 0, theirDec = 0;  // seconds
  bool ok = true;

  void Add(const Result& r) {
    ours += r.ours, max += r.max, theirs += r.theirs;
    ourEnc += r.ourEnc, maxEnc += r.maxEnc, theirEnc += r.theirEnc, ourDec += r.ourDec,
        theirDec += r.theirDec;
    ok &= r.ok;
  }
};

// Both decoders restore `stream` to `data`.
bool BothRestore(const Bytes& stream, const Bytes& data, wimlib_decompressor* d) {
  Bytes out(data.size());
  bool ok = LzmsDecompress(stream.data(), stream.size(), out.data(), out.size()) && out == data;
  std::fill(out.begin(), out.end(), 0);
  ok &= wimlib_decompress(stream.data(), stream.size(), out.data(), out.size(), d) == 0 && out == data;
  return ok;
}

Result Measure(const Bytes& data) {
  // A decode takes a few tens of milliseconds, short enough for one busy
  // spell of the machine to spoil several rounds in a row: more of them,
  // so that each side's best is a quiet one (a second or two per file).
  constexpr int kEncodeRounds = 3, kMaxRounds = 2, kDecodeRounds = 15;
  Result r;
  const size_t n = data.size();
  wimlib_compressor* c = nullptr;
  wimlib_decompressor* d = nullptr;
  wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_LZMS, n, 0, &c);
  wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_LZMS, n, &d);
  Bytes ours, max, theirs(n + n / 8 + 4096);
  size_t theirSize = 0;
  std::function<void()> encoders[] = {
      [&] { ours = LzmsCompress(data.data(), n); },
      [&] { theirSize = wimlib_compress(data.data(), n, theirs.data(), theirs.size(), c); },
      [&] { max = LzmsCompress(data.data(), n, LzmsLevel::kMax); }};
  const int encodeRounds[] = {kEncodeRounds, kEncodeRounds, kMaxRounds};
  double encodeTimes[3];
  BestOfInTurns(encodeRounds, encoders, encodeTimes);
  r.ourEnc = encodeTimes[0], r.theirEnc = encodeTimes[1], r.maxEnc = encodeTimes[2];
  r.ours = ours.size();
  r.max = max.size();
  theirs.resize(theirSize);
  r.theirs = theirs.empty() ? n : theirs.size();

  // Both decoders on the same (wimlib's) stream, into the same buffer.
  Bytes out(n);
  std::function<void()> decoders[] = {
      [&] { r.ok &= LzmsDecompress(theirs.data(), theirs.size(), out.data(), n); },
      [&] { r.ok &= wimlib_decompress(theirs.data(), theirs.size(), out.data(), n, d) == 0; }};
  const int decodeRounds[] = {kDecodeRounds, kDecodeRounds};
  double decodeTimes[2];
  BestOfInTurns(decodeRounds, decoders, decodeTimes);
  r.ourDec = decodeTimes[0], r.theirDec = decodeTimes[1];
  r.ok &= out == data;  // wimlib's output, after the last turn
  r.ok &= LzmsDecompress(theirs.data(), theirs.size(), out.data(), n) && out == data;
  // Our streams of both levels, read back by both decoders.
  r.ok &= BothRestore(ours, data, d) && BothRestore(max, data, d);
  wimlib_free_compressor(c);
  wimlib_free_decompressor(d);
  return r;
}

void PrintRow(const char* name, double bytes, const Result& r) {
  const double mb = bytes / 1e6;
  std::printf("%-24s %9.0f %9zu %9zu %9zu %6.3f %6.3f | %7.2f %7.2f %7.2f | %7.1f %7.1f %6.3f%s\n", name,
              bytes, r.ours, r.max, r.theirs, static_cast<double>(r.ours) / static_cast<double>(r.theirs),
              static_cast<double>(r.max) / static_cast<double>(r.theirs), mb / r.ourEnc, mb / r.maxEnc,
              mb / r.theirEnc, mb / r.ourDec, mb / r.theirDec, r.theirDec / r.ourDec,
              r.ok ? "" : "  MISMATCH");
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

  std::printf("%-24s %9s %9s %9s %9s %6s %6s | %7s %7s %7s | %7s %7s %6s\n", "file", "size", "ours", "max",
              "wimlib", "ratio", "max", "enc MB/s", "max", "wimlib", "dec MB/s", "wimlib", "speed");
  Result total, x86;
  double bytes = 0, x86Bytes = 0;
  for (const Entry& e : corpus) {
    const Result r = Measure(e.data);
    const double size = static_cast<double>(e.data.size());
    PrintRow(e.name.c_str(), size, r);
    total.Add(r);
    bytes += size;
    if (e.name.rfind("x86-64", 0) == 0) x86.Add(r), x86Bytes += size;
  }
  if (x86Bytes > 0) PrintRow("x86-64 files", x86Bytes, x86);
  PrintRow("total", bytes, total);
  const double theirs = static_cast<double>(total.theirs);
  std::printf("lzms-max: size_vs_wimlib=%.3f encode_speed_vs_wimlib=%.3f\n",
              static_cast<double>(total.max) / theirs, total.theirEnc / total.maxEnc);
  std::printf("lzms: size_vs_wimlib=%.3f decode_speed_vs_wimlib=%.3f encode_speed_vs_wimlib=%.3f\n",
              static_cast<double>(total.ours) / theirs, total.theirDec / total.ourDec,
              total.theirEnc / total.ourEnc);
  return total.ok ? 0 : 1;
}
