// The one text format of the files this program writes for itself inside the
// installation folder (the install record, the install and uninstall
// journals). Portable: no Windows types, so that it can be fuzzed natively.
//
//   TITLE                          (names the kind of file and its format)
//   key: value                     (the settings, in a fixed order)
//   kind: name                     (the items, any number)
//   end: N                         (the number of item lines)
//   more                           (optional lines after the end, such as "done")
//
// UTF-8, CRLF line ends (LF alone is read too). The closing count tells a
// whole text from one cut short: a text that is cut, of another kind or
// format, or names anything outside the folder reads as none at all.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct TextRecord {
  std::vector<std::string> settings;                       // values, in the order of the keys
  std::vector<std::pair<std::string, std::string>> items;  // kind, name
  std::vector<std::string> after;                          // whole lines after "end: N"
};

std::string FormatTextRecord(const std::string& title, const std::vector<std::string>& settingKeys,
                             const TextRecord& record);

// False for anything but a whole text of this title with these settings (in
// this order) and items of these kinds only, whose names are plain relative
// names (see IsPlainRelativeName).
bool ParseTextRecord(const std::string& text, const std::string& title,
                     const std::vector<std::string>& settingKeys, const std::vector<std::string>& itemKinds,
                     TextRecord* record);

// The lines of a text that end with LF (a CR before it dropped); a last line
// without its LF was cut short and is not among them.
std::vector<std::string> CompleteLines(const std::string& text);

// Valid UTF-8, not empty, relative (no leading separator, no drive or stream
// colon), no "..", no control character, no empty component: a name that
// stays inside the folder it is relative to. Windows' own naming rules are
// checked on top of this where the names are used.
bool IsPlainRelativeName(const std::string& name);
