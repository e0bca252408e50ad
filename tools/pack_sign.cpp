#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "tools/pack.h"

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#endif

namespace {

#ifdef _WIN32
constexpr char kNoErrors[] = " 2>NUL";
#else
constexpr char kNoErrors[] = " 2>/dev/null";
#endif

std::string Quote(const std::string& text) {
#ifdef _WIN32
  return "\"" + text + "\"";
#else
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

// The first certificate's validity dates, as openssl prints them in ISO
// 8601 ("2026-12-10 17:45:12Z"), from a PEM or a DER file.
bool ReadCertificateDates(const std::filesystem::path& cert, std::string* notBefore, std::string* notAfter) {
  for (const char* form : {"PEM", "DER"}) {
    const std::string command = std::string("openssl x509 -inform ") + form + " -in " + Quote(cert.string()) +
                                " -noout -dates -dateopt iso_8601" + kNoErrors;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    std::string output;
    char chunk[256];
    while (fgets(chunk, sizeof chunk, pipe)) output += chunk;
    const bool ok = pclose(pipe) == 0;
    const size_t before = output.find("notBefore="), after = output.find("notAfter=");
    if (!ok || before == std::string::npos || after == std::string::npos) continue;
    *notBefore = output.substr(before + 10, output.find('\n', before) - before - 10);
    *notAfter = output.substr(after + 9, output.find('\n', after) - after - 9);
    return true;
  }
  return false;
}

}  // namespace

std::string CertificateDateProblem(const std::string& notBefore, const std::string& notAfter,
                                   const std::string& now) {
  // Dates of one fixed-width form compare as text.
  if (now < notBefore) return "is not valid before " + notBefore;
  if (now > notAfter) return "expired on " + notAfter;
  return {};
}

std::string CheckCertificateDates(const std::filesystem::path& cert) {
  std::string notBefore, notAfter;
  if (!ReadCertificateDates(cert, &notBefore, &notAfter))
    return "cannot read the validity dates of the certificate " + cert.string() + " (with openssl x509)";
  const std::time_t t = std::time(nullptr);
  char now[32];
  std::strftime(now, sizeof now, "%Y-%m-%d %H:%M:%SZ", std::gmtime(&t));
  const std::string why = CertificateDateProblem(notBefore, notAfter, now);
  if (why.empty()) return why;
  return "the certificate " + cert.string() + " " + why + ": Windows will not trust the signature";
}

// Authenticode signing is osslsigncode's job; it appends the certificate
// table after the trailer, aligned to 8 bytes, and points the PE entry at it.
bool SignFile(const std::filesystem::path& in, const std::filesystem::path& out,
              const std::filesystem::path& cert, const std::filesystem::path& key, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(cert, ec) || !std::filesystem::is_regular_file(key, ec)) {
    *error = "certificate or key file not found";
    return false;
  }
  std::filesystem::remove(out, ec);
  const std::string command = "osslsigncode sign -certs " + Quote(cert.string()) + " -key " +
                              Quote(key.string()) + " -in " + Quote(in.string()) + " -out " +
                              Quote(out.string()) + " 1>&2";
  if (std::system(command.c_str()) != 0 || !std::filesystem::is_regular_file(out, ec)) {
    *error = "osslsigncode could not sign the setup file";
    return false;
  }
  return true;
}
