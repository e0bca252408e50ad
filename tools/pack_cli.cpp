#include <algorithm>
#include <cstdio>

#include "tools/pack.h"
#include "tools/pack_names.h"
#include "tools/pe_version.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  norvale-pack build --stub STUB.exe --input DIR [--version V] --out SETUP.exe\n"
    "                     [--sign-cert CERT.pem --sign-key KEY.pem [--allow-expired-cert]]\n"
    "                     [--level normal|max]\n"
    "                     [--threads N] [--quiet]\n"
    "  norvale-pack list SETUP.exe\n"
    "  norvale-pack verify SETUP.exe\n";

int Usage(const std::string& why) {
  if (!why.empty()) fprintf(stderr, "norvale-pack: %s\n", why.c_str());
  fputs(kUsage, stderr);
  return 2;
}

// One "error:" line for each line of `why`.
int Fail(const std::string& why) {
  for (size_t start = 0; start <= why.size();) {
    const size_t end = std::min(why.find('\n', start), why.size());
    fprintf(stderr, "norvale-pack: error: %s\n", why.substr(start, end - start).c_str());
    start = end + 1;
  }
  return 1;
}

// The names of a package made by any tool against what Windows can
// install: one line per offending path. Returns how many are refused.
size_t ReportNames(const PackageInfo& info) {
  std::vector<std::string> names;
  for (const PackEntryInfo& entry : info.entries) names.push_back(entry.name);
  size_t refused = 0;
  for (const NameProblem& problem : CheckPackageNames(names)) {
    fprintf(stderr, "norvale-pack: %s: \"%s\": %s\n", problem.refused ? "error" : "warning",
            PrintableName(problem.path).c_str(), problem.why.c_str());
    refused += problem.refused;
  }
  if (refused > 0)
    fprintf(stderr, "norvale-pack: error: %zu %s of the package cannot be installed on Windows\n", refused,
            refused == 1 ? "path" : "paths");
  return refused;
}

constexpr unsigned kMaxThreads = 256;

bool ParseThreads(const std::string& text, unsigned* threads) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *threads = static_cast<unsigned>(std::stoul(text));
  return *threads >= 1 && *threads <= kMaxThreads;
}

const char* LevelName(LzmsLevel level) { return level == LzmsLevel::kMax ? "max" : "normal"; }

// The level the blocks were packed at, as the integrity section records it
// (one written before the level was recorded, or none at all, cannot tell).
std::string PackedLevel(const PackIntegrity& integrity) {
  return integrity.level ? std::string("packed at level ") +
                               LevelName(*integrity.level == 1 ? LzmsLevel::kMax : LzmsLevel::kNormal)
                         : "level not recorded";
}

int Build(const std::vector<std::string>& args) {
  PackOptions options;
  bool haveVersion = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& flag = args[i];
    if (flag == "--quiet") {
      options.progress = false;
      continue;
    }
    if (flag == "--allow-expired-cert") {
      options.allowExpiredCert = true;
      continue;
    }
    if (i + 1 >= args.size()) return Usage("missing value after " + flag);
    const std::string& value = args[++i];
    if (flag == "--stub")
      options.stub = value;
    else if (flag == "--input")
      options.input = value;
    else if (flag == "--out")
      options.out = value;
    else if (flag == "--sign-cert")
      options.signCert = value;
    else if (flag == "--sign-key")
      options.signKey = value;
    else if (flag == "--version")
      options.version = value, haveVersion = true;
    else if (flag == "--level" && (value == "normal" || value == "max"))
      options.level = value == "max" ? LzmsLevel::kMax : LzmsLevel::kNormal;
    else if (flag == "--level")
      return Usage("--level is normal or max, not " + value);
    else if (flag == "--threads" && !ParseThreads(value, &options.threads))
      return Usage("--threads is a whole number from 1 to " + std::to_string(kMaxThreads) + ", not " + value);
    else if (flag != "--threads")
      return Usage("unknown option " + flag);
  }
  if (options.stub.empty() || options.input.empty() || options.out.empty())
    return Usage("build needs --stub, --input and --out");
  PackSummary summary;
  std::string error;
  // Without --version the product names its own version (without the
  // product, BuildSetup says what is missing).
  const std::filesystem::path product = options.input / kPackProductExe;
  std::error_code ec;
  if (!haveVersion && std::filesystem::is_regular_file(product, ec) &&
      !ReadProductVersion(product, &options.version, &error))
    return Fail(error);
  const bool built = BuildSetup(options, &summary, &error);
  for (const std::string& warning : summary.warnings)
    fprintf(stderr, "norvale-pack: warning: %s\n", warning.c_str());
  if (!built) return Fail(error);
  fprintf(
      stderr,
      "norvale-pack: %s: %llu files, %llu bytes raw, %llu bytes packed (%.1f%%) at level %s, %llu blocks, "
      "%.2f s\n",
      options.out.string().c_str(), static_cast<unsigned long long>(summary.files),
      static_cast<unsigned long long>(summary.rawSize), static_cast<unsigned long long>(summary.packedSize),
      summary.rawSize ? 100.0 * summary.packedSize / summary.rawSize : 100.0, LevelName(options.level),
      static_cast<unsigned long long>(summary.blocks), summary.seconds);
  fprintf(stderr, "norvale-pack: version %s%s; stub %llu bytes, package %llu bytes\n",
          options.version.c_str(), haveVersion ? "" : " (from the product's version block)",
          static_cast<unsigned long long>(summary.stubSize),
          static_cast<unsigned long long>(summary.packedSize));
  return 0;
}

int List(const std::string& file) {
  PackageInfo info;
  std::string error;
  if (!ReadPackageInfo(file, &info, &error)) return Fail(error);
  printf("version %s\n", info.version.c_str());
  printf("package at %llu, %llu bytes, trailer at %llu, %u padding bytes, file %llu bytes\n",
         static_cast<unsigned long long>(info.offset), static_cast<unsigned long long>(info.length),
         static_cast<unsigned long long>(info.trailerOffset), info.padding,
         static_cast<unsigned long long>(info.fileSize));
  printf("%zu entries, %llu bytes\n", info.entries.size(), static_cast<unsigned long long>(info.totalSize));
  for (const PackEntryInfo& entry : info.entries)
    printf("%12llu  %s\n", static_cast<unsigned long long>(entry.size), entry.name.c_str());
  printf("%zu blocks, %s\n", info.blocks.size(), PackedLevel(info.integrity).c_str());
  for (const PackBlockInfo& block : info.blocks) printf("%12u -> %u\n", block.rawSize, block.packedSize);
  if (info.integrity.present) {
    printf("integrity section: present at %llu, XXH64 of the head and of each block, stream SHA-256 ",
           static_cast<unsigned long long>(info.integrity.offset));
    for (uint8_t byte : info.integrity.streamSha256) printf("%02x", byte);
    printf("\n");
  } else {
    printf("integrity section: none (the blocks are checked only by decoding them)\n");
  }
  std::string signature;
  const bool signatureFits = ReportUninstallerSignature(file, info, &signature);
  if (signatureFits)
    printf("%s\n", signature.c_str());
  else
    Fail(signature);
  const bool namesFit = ReportNames(info) == 0;
  return signatureFits && namesFit ? 0 : 1;
}

int Verify(const std::string& file) {
  PackageInfo info;
  std::string error;
  if (!ReadPackageInfo(file, &info, &error)) return Fail(error);
  if (ReportNames(info) > 0) return 1;
  if (!VerifyPackage(file, info, &error)) return Fail(error);
  std::string signature;
  if (!ReportUninstallerSignature(file, info, &signature)) return Fail(signature);
  printf("%s\n", signature.c_str());
  printf("%s: whole (%zu entries, %llu bytes in %zu blocks, %s, %s)\n", file.c_str(), info.entries.size(),
         static_cast<unsigned long long>(info.totalSize), info.blocks.size(),
         PackedLevel(info.integrity).c_str(),
         info.integrity.present ? "every checksum matches" : "no integrity section");
  return 0;
}

}  // namespace

int RunPackCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("");
  try {
    if (args[0] == "build") return Build(args);
    if (args[0] == "list" && args.size() == 2) return List(args[1]);
    if (args[0] == "verify" && args.size() == 2) return Verify(args[1]);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  return Usage("");
}
