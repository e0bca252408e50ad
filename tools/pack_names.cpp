#include "tools/pack_names.h"

#include <cstring>
#include <map>
#include <set>

#include "tools/pack.h"

namespace {

struct UpcaseRun {
  char16_t first, last;
  uint8_t step;
  int32_t delta;
};

constexpr UpcaseRun kUpcaseRuns[] = {
#include "tools/pack_upcase.inc"
};
constexpr size_t kUpcaseRunCount = sizeof kUpcaseRuns / sizeof kUpcaseRuns[0];

// Length of the valid UTF-8 sequence at `at` and its code point; 0 when
// the bytes there are not one.
size_t DecodeOne(const std::string& text, size_t at, uint32_t* code) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length = 1;
  uint32_t value = lead, least = 0;
  if (lead >= 0xF0 && lead < 0xF8)
    length = 4, value = lead & 0x07, least = 0x10000;
  else if (lead >= 0xE0 && lead < 0xF0)
    length = 3, value = lead & 0x0F, least = 0x800;
  else if (lead >= 0xC0 && lead < 0xE0)
    length = 2, value = lead & 0x1F, least = 0x80;
  else if (lead >= 0x80)
    return 0;
  if (length > text.size() - at) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return 0;
    value = value << 6 | (next & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

std::string Hex(unsigned char byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 15];
}

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (also with a superscript
// digit), in any case: Windows opens the device instead of a file, even
// when an extension follows or spaces stand before the first dot.
bool IsDeviceName(const std::string& component) {
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  if (stem.size() < 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)) return false;
  const std::string digit = stem.substr(3);
  return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

// The key under which Windows finds a path: its UTF-16 units uppercased.
std::u16string WindowsKey(const std::string& path) {
  std::u16string units;
  DecodeUtf8(path, &units);
  for (char16_t& unit : units) unit = UpcaseUnit(unit);
  return units;
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

// Each folder on the way and the file itself against every path seen
// before: Windows holds one object per uppercased path.
struct Seen {
  std::string spelling;
  bool file;
};

void CheckCollisions(const std::string& name, std::map<std::u16string, Seen>* seen, Findings* findings) {
  for (size_t start = 0;;) {
    const size_t end = name.find('\\', start);
    const bool file = end == std::string::npos;
    const std::string path = name.substr(0, end);
    const auto [it, fresh] = seen->try_emplace(WindowsKey(path), Seen{path, file});
    std::string why;
    if (!fresh && it->second.spelling != path)
      why = "the same path on Windows as " + Quoted(it->second.spelling) + " (Windows ignores case)";
    else if (!fresh && file && it->second.file)
      why = "stored twice";
    else if (!fresh && file != it->second.file)
      why = "both a file and a folder";
    if (!why.empty()) {
      findings->Add(path, why);
      return;
    }
    if (file) return;
    start = end + 1;
  }
}

}  // namespace

char16_t UpcaseUnit(char16_t unit) {
  size_t low = 0, high = kUpcaseRunCount;  // the first run that does not end below the unit
  while (low < high) {
    const size_t mid = (low + high) / 2;
    if (kUpcaseRuns[mid].last < unit)
      low = mid + 1;
    else
      high = mid;
  }
  if (low == kUpcaseRunCount) return unit;
  const UpcaseRun& run = kUpcaseRuns[low];
  if (unit < run.first || (unit - run.first) % run.step != 0) return unit;
  return static_cast<char16_t>(unit + run.delta);
}

bool DecodeUtf8(const std::string& name, std::u16string* units) {
  units->clear();
  for (size_t at = 0; at < name.size();) {
    uint32_t code = 0;
    const size_t length = DecodeOne(name, at, &code);
    if (length == 0) return false;
    if (code >= 0x10000) {
      units->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      units->push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      units->push_back(static_cast<char16_t>(code));
    }
    at += length;
  }
  return true;
}

std::string PrintableName(const std::string& name) {
  std::string out;
  for (size_t at = 0; at < name.size();) {
    uint32_t code = 0;
    const size_t length = DecodeOne(name, at, &code);
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
  if (component.empty()) return "an empty name (two separators in a row, or one at the end)";
  std::u16string units;
  if (!DecodeUtf8(component, &units)) return "not valid UTF-8 (Windows names are Unicode)";
  for (unsigned char c : component) {
    if (c < 0x20) return "the control character " + Hex(c) + ", which Windows does not allow in names";
    if (strchr("<>:\"/\\|?*", c))
      return std::string("the character '") + static_cast<char>(c) +
             "', which Windows does not allow in names";
  }
  if (component.back() == '.') return "a name ending with a dot, which Windows drops";
  if (component.back() == ' ') return "a name ending with a space, which Windows drops";
  if (IsDeviceName(component))
    return Quoted(component.substr(0, component.find('.'))) +
           " is a device name on Windows, in any case and with any extension";
  return {};
}

std::vector<NameProblem> CheckPackageNames(const std::vector<std::string>& names) {
  Findings findings;
  std::map<std::u16string, Seen> seen;
  for (const std::string& name : names) {
    const std::string why = CheckEntryName(name);
    if (!why.empty()) {
      findings.Add(name, why);
      continue;
    }
    if (!CheckComponents(name, &findings)) continue;
    CheckLength(name, &findings);
    CheckCollisions(name, &seen, &findings);
  }
  return findings.problems;
}
