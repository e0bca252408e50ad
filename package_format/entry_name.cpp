#include "package_format/entry_name.h"

#include <cstring>
#include <map>

namespace {

struct UpcaseRun {
  char16_t first, last;
  uint8_t step;
  int32_t delta;
};

constexpr UpcaseRun kUpcaseRuns[] = {
#include "package_format/upcase.inc"
};
constexpr size_t kUpcaseRunCount = sizeof kUpcaseRuns / sizeof kUpcaseRuns[0];

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (also with a superscript
// digit), in any case: Windows opens the device instead of a file, even
// when an extension follows or spaces stand before the first dot.
bool IsDeviceName(std::string_view component) {
  std::string stem(component.substr(0, component.find('.')));
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
std::u16string WindowsKey(std::string_view path) {
  std::u16string units;
  DecodeUtf8(path, &units);
  for (char16_t& unit : units) unit = UpcaseUnit(unit);
  return units;
}

}  // namespace

size_t DecodeUtf8At(std::string_view text, size_t at, uint32_t* code) {
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

bool DecodeUtf8(std::string_view name, std::u16string* units) {
  units->clear();
  for (size_t at = 0; at < name.size();) {
    uint32_t code = 0;
    const size_t length = DecodeUtf8At(name, at, &code);
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

bool SameTextIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && UpcaseUnit(a[i]) != UpcaseUnit(b[i])) return false;
  return true;
}

NameVerdict CheckNameComponent(std::string_view component) {
  if (component.empty()) return {NameRule::kEmptyComponent};
  std::u16string units;
  if (!DecodeUtf8(component, &units)) return {NameRule::kNotUtf8};
  for (unsigned char c : component)
    if (c < 0x20 || strchr("<>:\"/\\|?*", c)) return {NameRule::kForbiddenCharacter, 0, c};
  if (component.back() == '.') return {NameRule::kTrailingDot};
  if (component.back() == ' ') return {NameRule::kTrailingSpace};
  if (IsDeviceName(component)) return {NameRule::kDeviceName};
  return {};
}

NameVerdict CheckPackageEntryName(std::string_view name) {
  if (name.empty()) return {NameRule::kEmpty};
  if (name.size() > 65535) return {NameRule::kTooLong};
  if (name.find("..") != std::string_view::npos) return {NameRule::kParentReference};
  if (name.find(':') != std::string_view::npos) return {NameRule::kColon};
  if (name[0] == '\\' || name[0] == '/') return {NameRule::kRooted};
  for (unsigned char c : name)
    if (c < 0x20) return {NameRule::kControl};
  for (size_t start = 0;;) {
    const size_t end = name.find('\\', start);
    const size_t stop = end == std::string_view::npos ? name.size() : end;
    NameVerdict verdict = CheckNameComponent(name.substr(start, stop - start));
    if (verdict.rule != NameRule::kNone) {
      verdict.componentEnd = stop;
      return verdict;
    }
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

std::vector<NameClash> FindNameClashes(const std::vector<std::string>& names, bool folderSpellingsClash) {
  struct Seen {
    size_t index, end;
    bool file;
  };
  std::map<std::u16string, Seen> seen;  // each path, file or folder, by its key
  std::vector<NameClash> clashes;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    for (size_t start = 0;;) {
      const size_t end = name.find('\\', start);
      const bool file = end == std::string::npos;
      const size_t stop = file ? name.size() : end;
      const std::string_view path(name.data(), stop);
      const auto [it, fresh] = seen.try_emplace(WindowsKey(path), Seen{i, stop, file});
      if (!fresh) {
        const Seen& was = it->second;
        const bool sameSpelling = std::string_view(names[was.index].data(), was.end) == path;
        bool clash = true;
        ClashKind kind = ClashKind::kSpelling;
        if (!sameSpelling)
          clash = file || was.file || folderSpellingsClash;
        else if (file && was.file)
          kind = ClashKind::kTwice;
        else if (file != was.file)
          kind = ClashKind::kFileAndFolder;
        else
          clash = false;  // the same folder again
        if (clash) {
          clashes.push_back(NameClash{i, stop, was.index, was.end, kind});
          break;
        }
      }
      if (file) break;
      start = end + 1;
    }
  }
  return clashes;
}
