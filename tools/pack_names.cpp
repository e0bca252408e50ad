#include "tools/pack_names.h"

#include <cstring>
#include <map>
#include <set>

#include "tools/pack.h"

namespace {

std::string Hex(unsigned char byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 15];
}

std::string Quoted(const std::string& name) { return "\"" + PrintableName(name) + "\""; }

std::string TooLong(size_t length, size_t limit, const char* what, bool refused) {
  const std::string where =
      std::to_string(limit) +
      " that fit below the default installation folder of a 20-character user name "
      "(C:\\Users\\NAME\\AppData\\Local\\Programs\\Norvale Lockra; Windows paths hold " +
      std::to_string(kWindowsPathLimit) + " characters, folders " + std::to_string(kWindowsFolderLimit) + ")";
  const std::string size = std::string(what) + " of " + std::to_string(length) + " characters";
  if (refused) return size + ", more than the " + where;
  return size + ", close to the " + where + ": a longer profile or a chosen folder may not hold it";
}

struct Findings {
  std::vector<NameProblem> problems;
  std::set<std::pair<std::string, bool>> reported;  // (path, refused): one line each
  void Add(const std::string& path, const std::string& why, bool refused = true) {
    if (reported.insert({path, refused}).second) problems.push_back(NameProblem{path, why, refused});
  }
};

// Components in turn; the first bad one is reported as the path up to it.
bool CheckComponents(const std::string& name, Findings* findings) {
  for (size_t start = 0;;) {
    const size_t end = name.find('\\', start);
    const std::string why =
        CheckWindowsComponent(name.substr(start, end == std::string::npos ? end : end - start));
    if (!why.empty()) {
      findings->Add(name.substr(0, end), why);
      return false;
    }
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

void CheckLength(const std::string& name, Findings* findings) {
  std::u16string units;
  DecodeUtf8(name, &units);
  const size_t slash = units.rfind(u'\\');
  const size_t folderUnits = slash == std::u16string::npos ? 0 : slash;
  const std::string folder = name.substr(0, name.rfind('\\'));
  if (folderUnits > kLongestEntryFolder)
    findings->Add(folder, TooLong(folderUnits, kLongestEntryFolder, "a folder", true));
  else if (units.size() > kLongestEntryName)
    findings->Add(name, TooLong(units.size(), kLongestEntryName, "a path", true));
  else if (folderUnits + kNearLimitMargin > kLongestEntryFolder)
    findings->Add(folder, TooLong(folderUnits, kLongestEntryFolder, "a folder", false), false);
  else if (units.size() + kNearLimitMargin > kLongestEntryName)
    findings->Add(name, TooLong(units.size(), kLongestEntryName, "a path", false), false);
}

}  // namespace

std::string PrintableName(const std::string& name) {
  std::string out;
  for (size_t at = 0; at < name.size();) {
    uint32_t code = 0;
    const size_t length = DecodeUtf8At(name, at, &code);
    if (length == 0 || code < 0x20 || code == 0x7F) {
      out += Hex(static_cast<unsigned char>(name[at]));
      ++at;
    } else {
      out.append(name, at, length);
      at += length;
    }
  }
  return out;
}

std::string CheckWindowsComponent(const std::string& component) {
  const NameVerdict verdict = CheckNameComponent(component);
  switch (verdict.rule) {
    case NameRule::kEmptyComponent:
      return "an empty name (two separators in a row, or one at the end)";
    case NameRule::kNotUtf8:
      return "not valid UTF-8 (Windows names are Unicode)";
    case NameRule::kForbiddenCharacter:
      if (verdict.byte < 0x20)
        return "the control character " + Hex(verdict.byte) + ", which Windows does not allow in names";
      return std::string("the character '") + static_cast<char>(verdict.byte) +
             "', which Windows does not allow in names";
    case NameRule::kTrailingDot:
      return "a name ending with a dot, which Windows drops";
    case NameRule::kTrailingSpace:
      return "a name ending with a space, which Windows drops";
    case NameRule::kDeviceName:
      return Quoted(component.substr(0, component.find('.'))) +
             " is a device name on Windows, in any case and with any extension";
    default:
      return {};
  }
}

std::vector<NameProblem> CheckPackageNames(const std::vector<std::string>& names) {
  // The clashes between the names whose own rules hold, each reported in
  // its name's turn.
  std::vector<std::string> sound;
  std::vector<size_t> soundIndex;
  for (size_t i = 0; i < names.size(); ++i)
    if (IsInstallableEntryName(names[i])) sound.push_back(names[i]), soundIndex.push_back(i);
  std::map<size_t, std::pair<std::string, std::string>> clashes;  // name index -> path, why
  for (const NameClash& clash : FindNameClashes(sound, /*folderSpellingsClash=*/true)) {
    const std::string earlier = sound[clash.earlier].substr(0, clash.earlierEnd);
    clashes[soundIndex[clash.index]] = {
        sound[clash.index].substr(0, clash.pathEnd),
        clash.kind == ClashKind::kSpelling
            ? "the same path on Windows as " + Quoted(earlier) + " (Windows ignores case)"
        : clash.kind == ClashKind::kTwice ? "stored twice"
                                          : "both a file and a folder"};
  }
  Findings findings;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string why = CheckEntryName(names[i]);
    if (!why.empty()) {
      findings.Add(names[i], why);
      continue;
    }
    if (!CheckComponents(names[i], &findings)) continue;
    CheckLength(names[i], &findings);
    const auto clash = clashes.find(i);
    if (clash != clashes.end()) findings.Add(clash->second.first, clash->second.second);
  }
  return findings.problems;
}
