#include "system/text_record.h"

namespace {

bool SplitLine(const std::string& line, const std::string& key, std::string* value) {
  if (line.size() < key.size() + 2 || line.compare(0, key.size(), key) != 0 ||
      line.compare(key.size(), 2, ": ") != 0)
    return false;
  *value = line.substr(key.size() + 2);
  return true;
}

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t extra;
    unsigned long point;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, point = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, point = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, point = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and points beyond Unicode are refused.
    if ((extra == 2 && point < 0x800) || (extra == 3 && (point < 0x10000 || point > 0x10FFFF)) ||
        (point >= 0xD800 && point <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace

std::vector<std::string> CompleteLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
    if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
  }
  return lines;
}

bool IsPlainRelativeName(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
  if (name.find("..") != std::string::npos || name.find(':') != std::string::npos) return false;
  if (name.find("\\\\") != std::string::npos || name.back() == '\\' || name.back() == '/') return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return false;
  return IsValidUtf8(name);
}

std::string FormatTextRecord(const std::string& title, const std::vector<std::string>& settingKeys,
                             const TextRecord& record) {
  std::string text = title + "\r\n";
  for (size_t i = 0; i < settingKeys.size(); ++i)
    text +=
        settingKeys[i] + ": " + (i < record.settings.size() ? record.settings[i] : std::string()) + "\r\n";
  for (const auto& item : record.items) text += item.first + ": " + item.second + "\r\n";
  text += "end: " + std::to_string(record.items.size()) + "\r\n";
  for (const std::string& line : record.after) text += line + "\r\n";
  return text;
}

bool ParseTextRecord(const std::string& text, const std::string& title,
                     const std::vector<std::string>& settingKeys, const std::vector<std::string>& itemKinds,
                     TextRecord* record) {
  *record = TextRecord();
  const std::vector<std::string> lines = CompleteLines(text);
  if (lines.size() < settingKeys.size() + 2 || lines[0] != title) return false;
  size_t at = 1;
  for (const std::string& key : settingKeys) {
    std::string value;
    if (!SplitLine(lines[at++], key, &value)) return false;
    record->settings.push_back(value);
  }
  std::string value;
  for (; at < lines.size() && !SplitLine(lines[at], "end", &value); ++at) {
    bool known = false;
    for (const std::string& kind : itemKinds) {
      std::string name;
      if (!SplitLine(lines[at], kind, &name)) continue;
      if (!IsPlainRelativeName(name)) return false;
      record->items.emplace_back(kind, name);
      known = true;
      break;
    }
    if (!known) return false;
  }
  if (at >= lines.size() || value != std::to_string(record->items.size())) return false;
  record->after.assign(lines.begin() + static_cast<long>(at) + 1, lines.end());
  return true;
}
