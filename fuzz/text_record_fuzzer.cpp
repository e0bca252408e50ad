// The text records the setup program reads back from the installation
// folder (the install record, the install and uninstall journals): any bytes
// are read without a crash, a text that reads whole gives only plain
// relative names, and formatting what was read reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "system/text_record.h"

namespace {

struct Kind {
  const char* title;
  std::vector<std::string> keys;
  std::vector<std::string> items;
};

const Kind kKinds[] = {
    {"Norvale Lockra install record, format 1", {"folder created"}, {"folder", "file"}},
    {"Norvale Lockra install journal, format 1",
     {"attempt", "folder created", "ui moved"},
     {"replace", "create", "folder"}},
    {"Norvale Lockra uninstall journal, format 1", {"whole folder", "registration"}, {"folder", "file"}},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const Kind& kind : kKinds) {
    TextRecord record;
    if (!ParseTextRecord(text, kind.title, kind.keys, kind.items, &record)) continue;
    if (record.settings.size() != kind.keys.size()) abort();
    for (const auto& item : record.items)
      if (!IsPlainRelativeName(item.second) || item.second.find('\n') != std::string::npos) abort();
    // A setting or a later line holding a line break could not come back.
    bool plain = true;
    for (const std::string& value : record.settings) plain = plain && value.find('\r') == std::string::npos;
    for (const std::string& line : record.after) plain = plain && line.find('\r') == std::string::npos;
    if (!plain) continue;
    TextRecord again;
    if (!ParseTextRecord(FormatTextRecord(kind.title, kind.keys, record), kind.title, kind.keys, kind.items,
                         &again) ||
        again.settings != record.settings || again.items != record.items || again.after != record.after)
      abort();
  }
  return 0;
}
