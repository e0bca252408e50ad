#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "codec/lzms.h"
#include "tools/pack.h"
#include "tools/pack_hash.h"

namespace fs = std::filesystem;

namespace {

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The stub must be an unsigned PE image without a package: a second package
// would hide behind the first, and a package after a signature breaks it.
std::string CheckStub(const std::vector<uint8_t>& stub) {
  const uint64_t entry = PeCertificateEntryOffset(stub);
  if (entry == 0 || entry + 8 > stub.size()) return "the stub is not a PE executable";
  uint64_t table = 0, size = 0;
  memcpy(&table, &stub[entry], 4);
  memcpy(&size, &stub[entry + 4], 4);
  for (uint64_t i = 0; i < 8 && stub.size() >= i + kPackTrailerSize; ++i)
    if (memcmp(&stub[stub.size() - i - 8], kPackTrailerMagic, 8) == 0)
      return "the stub already carries a package";
  if (table != 0 || size != 0) return "the stub is signed; pack an unsigned stub and sign the result";
  return {};
}

// Reads the stream bytes [offset, offset + n) from the files that hold them.
bool ReadStream(const std::vector<PackInput>& files, const std::vector<uint64_t>& starts, uint64_t offset,
                uint8_t* out, uint64_t n, std::string* error) {
  size_t index = std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin() - 1;
  while (n > 0 && index < files.size()) {
    const PackInput& file = files[index];
    const uint64_t within = offset - starts[index];
    const uint64_t take = std::min(n, file.size - within);
    if (take > 0) {
      std::ifstream in(file.source, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(within));
      in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(take));
      if (!in || static_cast<uint64_t>(in.gcount()) != take) {
        *error = "cannot read " + file.source.string() + " (changed or unreadable)";
        return false;
      }
    }
    out += take;
    offset += take;
    n -= take;
    ++index;
  }
  return n == 0;
}

// Compresses the blocks on several threads and hands them to `write` in order,
// with the raw size and XXH64 of each; `stream` hashes the raw bytes in order
// (read again, from the cache, rather than kept). At most `window` compressed
// blocks wait for their turn, bounding memory.
bool CompressBlocks(const std::vector<PackInput>& files, uint64_t totalSize, uint32_t blockCount,
                    unsigned threads, bool progress, LzmsLevel level, PackSha256* stream,
                    const std::function<bool(const std::vector<uint8_t>&, const PackBlockSum&)>& write,
                    std::string* error) {
  std::vector<uint64_t> starts;
  uint64_t at = 0;
  for (const PackInput& file : files) {
    starts.push_back(at);
    at += file.size;
  }
  struct Slot {
    std::vector<uint8_t> packed;
    uint64_t sum = 0;
    bool done = false;
  };
  std::vector<Slot> slots(blockCount);
  std::mutex mutex;
  std::condition_variable changed;
  uint32_t next = 0, written = 0;
  bool failed = false;
  const uint64_t window = uint64_t{threads} * 2;

  auto worker = [&] {
    std::vector<uint8_t> raw;
    for (;;) {
      uint32_t b;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return failed || next >= blockCount || next < uint64_t{written} + window; });
        if (failed || next >= blockCount) return;
        b = next++;
      }
      const uint64_t offset = static_cast<uint64_t>(b) * kPackBlockSize;
      const uint64_t n = std::min(kPackBlockSize, totalSize - offset);
      raw.resize(n);
      std::string why;
      std::vector<uint8_t> packed;
      const bool ok = ReadStream(files, starts, offset, raw.data(), n, &why);
      uint64_t sum = 0;
      if (ok) {
        packed = LzmsBufferedCompress(raw.data(), n, 0, level);
        sum = PackXxh64(raw.data(), n);
      }
      std::lock_guard<std::mutex> lock(mutex);
      if (!ok || packed.empty() || packed.size() > UINT32_MAX) {
        if (!failed) *error = ok ? "block " + std::to_string(b + 1) + " could not be compressed" : why;
        failed = true;
      } else {
        slots[b].packed = std::move(packed);
        slots[b].sum = sum;
        slots[b].done = true;
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < std::min<unsigned>(threads, std::max<uint32_t>(blockCount, 1)); ++t)
    pool.emplace_back(worker);

  std::vector<uint8_t> raw;
  for (uint32_t b = 0; b < blockCount; ++b) {
    std::vector<uint8_t> packed;
    PackBlockSum sum;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return failed || slots[b].done; });
      if (failed) break;
      packed = std::move(slots[b].packed);
      sum.sum = slots[b].sum;
    }
    const uint64_t offset = uint64_t{b} * kPackBlockSize;
    sum.rawSize = static_cast<uint32_t>(std::min(kPackBlockSize, totalSize - offset));
    sum.packedSize = static_cast<uint32_t>(packed.size());
    sum.packedSum = PackXxh64(packed.data(), packed.size());
    raw.resize(sum.rawSize);
    std::string why;
    const bool read = ReadStream(files, starts, offset, raw.data(), raw.size(), &why);
    // A file that changed since its block was compressed fails here or below.
    const bool same = read && PackXxh64(raw.data(), raw.size()) == sum.sum;
    const bool ok = same && write(packed, sum);
    if (ok) PackSha256Update(stream, raw.data(), raw.size());
    std::lock_guard<std::mutex> lock(mutex);
    if (!ok) {
      if (!failed)
        *error = !read   ? why
                 : !same ? "the input changed while it was packed"
                         : "cannot write the output file";
      failed = true;
    }
    ++written;
    changed.notify_all();
    if (failed) break;
    if (progress)
      fprintf(stderr, "norvale-pack: block %u/%u packed (%u%%)\n", b + 1, blockCount,
              (b + 1) * 100 / blockCount);
  }
  for (std::thread& t : pool) t.join();
  return !failed;
}

// The output, and the files written on the way to it, may not replace what
// it is made from: the stub, the signing files, a file of the product
// folder (also through a link), nor lie inside that folder.
std::string CheckOutput(const PackOptions& options, const std::vector<PackInput>& files) {
  std::error_code ec;
  const fs::path in = fs::weakly_canonical(options.input, ec);
  const fs::path out = fs::weakly_canonical(options.out, ec);
  const fs::path relative = out.lexically_relative(in);
  if (!relative.empty() && *relative.begin() != "..")
    return "the output " + options.out.string() + " lies inside the product folder " + options.input.string();
  std::vector<fs::path> inputs = {options.stub, options.signCert, options.signKey};
  for (const PackInput& file : files) inputs.push_back(file.source);
  for (const fs::path& written :
       {options.out, fs::path(options.out).concat(".partial"), fs::path(options.out).concat(".signing"),
        UninstallerStubTemp(options.out, false), UninstallerStubTemp(options.out, true)})
    for (const fs::path& input : inputs)
      if (!input.empty() && fs::equivalent(written, input, ec))
        return "the output " + written.string() + " is the input " + input.string();
  return {};
}

std::string CheckVersion(const std::string& version) {
  if (version.size() >= 64) return "the version must be shorter than 64 bytes";
  for (unsigned char c : version)
    if (c < 0x20 || c > 0x7E) return "the version must be printable ASCII";
  return {};
}

}  // namespace

bool BuildSetup(const PackOptions& options, PackSummary* summary, std::string* error) {
  const auto started = std::chrono::steady_clock::now();
  *summary = PackSummary{};
  std::string why = CheckVersion(options.version);
  if (!why.empty()) {
    *error = why;
    return false;
  }
  if (options.signCert.empty() != options.signKey.empty()) {
    *error = "signing needs both --sign-cert and --sign-key";
    return false;
  }
  // Checked before anything is packed. (A certificate file that is not
  // there is reported by the signing itself.)
  std::error_code exists;
  if (!options.signCert.empty() && fs::is_regular_file(options.signCert, exists)) {
    why = CheckCertificateDates(options.signCert);
    if (!why.empty() && !options.allowExpiredCert) {
      *error = why + " (--allow-expired-cert signs all the same)";
      return false;
    }
    if (!why.empty()) summary->warnings.push_back(why);
  }
  std::vector<uint8_t> stub;
  if (!ReadWholeFile(options.stub, &stub)) {
    *error = "cannot read the stub " + options.stub.string();
    return false;
  }
  why = CheckStub(stub);
  if (!why.empty()) {
    *error = why + ": " + options.stub.string();
    return false;
  }
  std::vector<PackInput> files;
  if (!CollectInputFiles(options.input, &files, error, &summary->warnings)) return false;
  // The program the shortcuts start, under that very name: a folder without
  // it would install a product that cannot be started.
  if (files.empty() || files[0].name != kPackProductExe) {
    *error = "the product folder " + options.input.string() + " holds no file " + kPackProductExe;
    return false;
  }
  why = CheckOutput(options, files);
  if (!why.empty()) {
    *error = why;
    return false;
  }
  // Signed before the packing: a stub the signer refuses stops the build early.
  std::vector<uint8_t> signature;
  if (!options.signCert.empty() && !MakeUninstallerSignature(options, stub, &signature, error)) return false;
  uint64_t totalSize = 0;
  for (const PackInput& file : files) totalSize += file.size;
  const uint64_t blocks = (totalSize + kPackBlockSize - 1) / kPackBlockSize;
  if (blocks > UINT32_MAX) {
    *error = "the product is too large for one package";
    return false;
  }
  const uint32_t blockCount = static_cast<uint32_t>(blocks);

  const fs::path temp = fs::path(options.out).concat(".partial");
  const fs::path signedTemp = fs::path(options.out).concat(".signing");
  std::error_code ec;
  auto fail = [&](const std::string& message) {
    fs::remove(temp, ec);
    fs::remove(signedTemp, ec);
    *error = message;
    return false;
  };
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  if (!out) return fail("cannot create " + temp.string());
  const std::vector<uint8_t> head = EncodePackageHead(options.version, files, totalSize, blockCount);
  out.write(reinterpret_cast<const char*>(stub.data()), static_cast<std::streamsize>(stub.size()));
  out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  uint64_t packageLength = head.size();
  std::vector<PackBlockSum> sums;
  auto writeBlock = [&](const std::vector<uint8_t>& packed, const PackBlockSum& sum) {
    sums.push_back(sum);
    const std::vector<uint8_t> sizes = EncodeBlockHeader(sum.rawSize, static_cast<uint32_t>(packed.size()));
    out.write(reinterpret_cast<const char*>(sizes.data()), 8);
    out.write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
    packageLength += 8 + packed.size();
    return static_cast<bool>(out);
  };
  const unsigned threads =
      options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  std::string blockError;
  PackSha256 stream;
  if (!PackSha256Begin(&stream)) {
    out.close();
    return fail("SHA-256 is not available (libcrypto)");
  }
  if (!CompressBlocks(files, totalSize, blockCount, threads, options.progress, options.level, &stream,
                      writeBlock, &blockError)) {
    PackSha256End(&stream, nullptr);
    out.close();
    return fail(blockError);
  }
  uint8_t streamSha256[32];
  if (!PackSha256End(&stream, streamSha256)) {
    out.close();
    return fail("the SHA-256 of the content could not be computed");
  }
  out.write(reinterpret_cast<const char*>(signature.data()), static_cast<std::streamsize>(signature.size()));
  packageLength += signature.size();
  const std::vector<uint8_t> section = EncodeIntegritySection(PackXxh64(head.data(), head.size()), sums,
                                                              streamSha256, options.level, signature);
  out.write(reinterpret_cast<const char*>(section.data()), static_cast<std::streamsize>(section.size()));
  packageLength += section.size();
  const std::vector<uint8_t> trailer = EncodePackageTrailer(stub.size(), packageLength);
  out.write(reinterpret_cast<const char*>(trailer.data()), static_cast<std::streamsize>(trailer.size()));
  out.close();
  if (!out) return fail("cannot write " + temp.string());

  fs::path finished = temp;
  if (!options.signCert.empty()) {
    if (options.progress) fprintf(stderr, "norvale-pack: signing\n");
    if (!SignFile(temp, signedTemp, options.signCert, options.signKey, &why)) return fail(why);
    // The reader finds the trailer only 0 to 7 bytes before a certificate
    // table that ends the file: check that the signer left that layout.
    PackageInfo info;
    if (!ReadPackageInfo(signedTemp, &info, &why) || info.offset != stub.size() ||
        info.integrity.signature != signature)
      return fail("the signed file no longer shows its package where the setup program looks: " + why);
    finished = signedTemp;
  }
  fs::rename(finished, options.out, ec);
  if (ec) return fail("cannot write " + options.out.string() + ": " + ec.message());
  fs::remove(temp, ec);

  summary->files = files.size();
  summary->rawSize = totalSize;
  summary->packedSize = packageLength;
  summary->stubSize = stub.size();
  summary->blocks = blockCount;
  summary->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return true;
}
