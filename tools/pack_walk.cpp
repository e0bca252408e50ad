#include <algorithm>
#include <fstream>
#include <system_error>

#include "tools/pack.h"
#include "tools/pack_names.h"

namespace fs = std::filesystem;

namespace {

std::string Utf8(const fs::path& p) {
  const auto text = p.u8string();
  return std::string(text.begin(), text.end());
}

// The walk of one product folder: what it packs and what it refuses.
struct Walk {
  fs::path root;               // the input folder, links resolved
  std::vector<fs::path> open;  // folders being walked, links resolved: a loop returns to one
  std::vector<PackInput>* files;
  std::vector<NameProblem> problems;  // paths as shown: '/' between components
};

bool Inside(const fs::path& root, const fs::path& target) {
  auto r = root.begin(), t = target.begin();
  for (; r != root.end(); ++r, ++t)
    if (t == target.end() || *r != *t) return false;
  return true;
}

// The package name of a path below the folder: components joined with
// backslashes. Empty, with the problem noted, when a component holds a
// backslash (a legal character on Linux that the package would read as a
// separator).
std::string PackageName(const fs::path& relative, Walk* walk) {
  std::string name;
  fs::path upTo;
  for (const fs::path& part : relative) {
    const std::string text = Utf8(part);
    upTo /= part;
    if (text.find('\\') != std::string::npos) {
      // Named once, also when it is a folder of several files.
      const NameProblem problem{PrintableName(Utf8(upTo)), CheckWindowsComponent(text)};
      if (std::none_of(walk->problems.begin(), walk->problems.end(),
                       [&](const NameProblem& p) { return p.path == problem.path; }))
        walk->problems.push_back(problem);
      return {};
    }
    if (!name.empty()) name += '\\';
    name += text;
  }
  return name;
}

void WalkFolder(const fs::path& folder, const fs::path& relative, Walk* walk);

// One entry of a folder. A symbolic link is followed when its target lies
// inside the input folder (the package then holds the target's content under
// the link's name); a target outside would pack a file of the maker's
// machine, and a link back into a folder being walked would never end.
void WalkEntry(const fs::directory_entry& entry, const fs::path& relative, Walk* walk) {
  const std::string shown = Utf8(relative);
  auto refuse = [&](const std::string& why) {
    walk->problems.push_back(NameProblem{PrintableName(shown), why});
  };
  std::error_code ec;
  fs::path target = entry.path();
  if (entry.is_symlink(ec)) {
    target = fs::canonical(entry.path(), ec);
    if (ec == std::errc::too_many_symbolic_link_levels) return refuse("a symbolic link loop");
    if (ec) return refuse("a symbolic link to nothing (" + ec.message() + ")");
    if (!Inside(walk->root, target))
      return refuse("a symbolic link to " + target.string() + ", outside the input folder");
  }
  const fs::file_status status = fs::status(target, ec);
  if (ec) return refuse("cannot be read: " + ec.message());
  if (fs::is_directory(status)) {
    const fs::path real = fs::canonical(target, ec);
    if (ec) return refuse("cannot be read: " + ec.message());
    if (std::find(walk->open.begin(), walk->open.end(), real) != walk->open.end())
      return refuse("a symbolic link loop (to a folder that holds it)");
    walk->open.push_back(real);
    WalkFolder(target, relative, walk);
    walk->open.pop_back();
    return;
  }
  if (!fs::is_regular_file(status)) return refuse("not a regular file");
  PackInput file;
  file.name = PackageName(relative, walk);
  if (file.name.empty()) return;
  file.source = entry.path();
  file.size = fs::file_size(target, ec);
  std::ifstream probe(file.source, std::ios::binary);
  if (ec || !probe) return refuse("cannot be read");
  walk->files->push_back(std::move(file));
}

void WalkFolder(const fs::path& folder, const fs::path& relative, Walk* walk) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) WalkEntry(*it, relative / it->path().filename(), walk);
  if (ec)
    walk->problems.push_back(NameProblem{PrintableName(Utf8(relative)), "cannot be listed: " + ec.message()});
}

}  // namespace

bool CollectInputFiles(const fs::path& dir, std::vector<PackInput>* files, std::string* error,
                       std::vector<std::string>* warnings) {
  files->clear();
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    *error = "input folder not found: " + dir.string();
    return false;
  }
  Walk walk{fs::canonical(dir, ec), {}, files, {}};
  if (ec) {
    *error = "cannot read " + dir.string() + ": " + ec.message();
    return false;
  }
  walk.open.push_back(walk.root);
  WalkFolder(dir, fs::path(), &walk);

  std::sort(files->begin(), files->end(), [](const PackInput& a, const PackInput& b) {
    const bool aFirst = a.name == kPackProductExe, bFirst = b.name == kPackProductExe;
    if (aFirst != bFirst) return aFirst;
    return a.name < b.name;
  });
  std::sort(walk.problems.begin(), walk.problems.end(),
            [](const NameProblem& a, const NameProblem& b) { return a.path < b.path; });
  std::vector<std::string> names;
  for (const PackInput& file : *files) names.push_back(file.name);
  for (NameProblem& problem : CheckPackageNames(names)) {
    // No component of a packed name holds a backslash: each one stands for '/'.
    std::replace(problem.path.begin(), problem.path.end(), '\\', '/');
    problem.path = PrintableName(problem.path);
    walk.problems.push_back(std::move(problem));
  }
  error->clear();
  size_t refused = 0;
  for (const NameProblem& problem : walk.problems) {
    const std::string line = problem.path + ": " + problem.why;
    if (!problem.refused) {
      if (warnings) warnings->push_back(line);
      continue;
    }
    *error += line + "\n";
    ++refused;
  }
  if (refused > 0) {
    *error += std::to_string(refused) + (refused == 1 ? " path" : " paths") + " of " + dir.string() +
              " cannot be installed on Windows; nothing was packed";
    files->clear();
    return false;
  }
  return true;
}
