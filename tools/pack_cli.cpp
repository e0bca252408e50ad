#include <cstdio>

#include "tools/pack.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  norvale-pack build --stub STUB.exe --input DIR --version V --out SETUP.exe\n"
    "                     [--sign-cert CERT.pem --sign-key KEY.pem] [--level normal|max]\n"
    "                     [--threads N] [--quiet]\n"
    "  norvale-pack list SETUP.exe\n"
    "  norvale-pack verify SETUP.exe\n";

int Usage(const std::string& why) {
  if (!why.empty()) fprintf(stderr, "norvale-pack: %s\n", why.c_str());
  fputs(kUsage, stderr);
  return 2;
}

int Fail(const std::string& why) {
  fprintf(stderr, "norvale-pack: error: %s\n", why.c_str());
  return 1;
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
    else if (flag == "--threads")
      options.threads = static_cast<unsigned>(std::stoul(value));
    else
      return Usage("unknown option " + flag);
  }
  if (options.stub.empty() || options.input.empty() || options.out.empty() || !haveVersion)
    return Usage("build needs --stub, --input, --version and --out");
  PackSummary summary;
  std::string error;
  if (!BuildSetup(options, &summary, &error)) return Fail(error);
  fprintf(
      stderr,
      "norvale-pack: %s: %llu files, %llu bytes raw, %llu bytes packed (%.1f%%) at level %s, %llu blocks, "
      "%.2f s\n",
      options.out.string().c_str(), static_cast<unsigned long long>(summary.files),
      static_cast<unsigned long long>(summary.rawSize), static_cast<unsigned long long>(summary.packedSize),
      summary.rawSize ? 100.0 * summary.packedSize / summary.rawSize : 100.0,
      options.level == LzmsLevel::kMax ? "max" : "normal", static_cast<unsigned long long>(summary.blocks),
      summary.seconds);
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
  printf("%zu blocks\n", info.blocks.size());
  for (const PackBlockInfo& block : info.blocks) printf("%12u -> %u\n", block.rawSize, block.packedSize);
  return 0;
}

int Verify(const std::string& file) {
  PackageInfo info;
  std::string error;
  if (!ReadPackageInfo(file, &info, &error) || !VerifyPackage(file, info, &error)) return Fail(error);
  printf("%s: whole (%zu entries, %llu bytes in %zu blocks)\n", file.c_str(), info.entries.size(),
         static_cast<unsigned long long>(info.totalSize), info.blocks.size());
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
