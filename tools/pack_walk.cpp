#include <algorithm>
#include <fstream>

#include "tools/pack.h"

namespace fs = std::filesystem;

namespace {

std::string Utf8(const fs::path& p) {
  const auto text = p.u8string();
  return std::string(text.begin(), text.end());
}

// The package name of a file: its path below the folder, components joined
// with backslashes. Empty when a component itself holds a backslash (a
// legal character on Linux that the package would read as a separator).
std::string PackageName(const fs::path& relative) {
  std::string name;
  for (const fs::path& part : relative) {
    const std::string text = Utf8(part);
    if (text.find('\\') != std::string::npos) return {};
    if (!name.empty()) name += '\\';
    name += text;
  }
  return name;
}

}  // namespace

bool CollectInputFiles(const fs::path& dir, std::vector<PackInput>* files, std::string* error) {
  files->clear();
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    *error = "input folder not found: " + dir.string();
    return false;
  }
  fs::recursive_directory_iterator it(dir, fs::directory_options::none, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    const fs::file_status status = entry.status(ec);
    if (ec) {
      *error = "cannot read " + entry.path().string() + ": " + ec.message();
      return false;
    }
    if (fs::is_directory(status)) continue;
    const fs::path relative = entry.path().lexically_relative(dir);
    if (!fs::is_regular_file(status)) {
      *error = "not a regular file: " + entry.path().string();
      return false;
    }
    PackInput file;
    file.name = PackageName(relative);
    const std::string why = file.name.empty() ? "a name containing a backslash" : CheckEntryName(file.name);
    if (!why.empty()) {
      *error = "cannot carry " + Utf8(relative) + ": " + why;
      return false;
    }
    file.source = entry.path();
    file.size = entry.file_size(ec);
    std::ifstream probe(file.source, std::ios::binary);
    if (ec || !probe) {
      *error = "cannot read " + entry.path().string();
      return false;
    }
    files->push_back(std::move(file));
  }
  if (ec) {
    *error = "cannot list " + dir.string() + ": " + ec.message();
    return false;
  }
  std::sort(files->begin(), files->end(), [](const PackInput& a, const PackInput& b) {
    const bool aFirst = a.name == kPackProductExe, bFirst = b.name == kPackProductExe;
    if (aFirst != bFirst) return aFirst;
    return a.name < b.name;
  });
  return true;
}
