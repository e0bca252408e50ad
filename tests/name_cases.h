// Entry names that Windows can and cannot install, one at a time. Shared by
// the packer's native test and the setup program's test under Wine, so that
// both sides refuse the same names.
#pragma once

#include <string>
#include <vector>

struct NameCase {
  std::string name;  // UTF-8 bytes as stored in a package, backslashes between folders
  bool installable;
};

inline const std::vector<NameCase>& EntryNameCases() {
  static const std::vector<NameCase> cases = {
      // Names Windows takes, some of them close to a rule.
      {"Norvale-Lockra.exe", true},
      {"ui\\fonts\\d\xC3\xA9j\xC3\xA0.txt", true},
      {"ui\\.hidden\\x.txt", true},
      {"a b\\c d.txt", true},
      {"x.tar.gz", true},
      {"emoji \xF0\x9F\x98\x80.txt", true},
      {"console.txt", true},
      {"CONSOLE", true},
      {"nul-device.txt", true},
      {"auxiliary\\data", true},
      {"file.aux", true},
      {"COM10.txt", true},
      {"com1x.dll", true},
      {"LPT", true},
      {"COM\xC2\xB9x", true},
      {"del\x7F", true},
      // Device names in any case, with any extension, as a folder too.
      {"aux", false},
      {"AUX", false},
      {"Aux.txt", false},
      {"con.log", false},
      {"nul.tar.gz", false},
      {"PrN", false},
      {"ui\\com1.dll", false},
      {"LPT9", false},
      {"com\xC2\xB9", false},
      {"LpT\xC2\xB3.txt", false},
      {"COM\xC2\xB2.bin", false},
      {"aux .txt", false},
      {"sub\\CON\\x.txt", false},
      // Characters Windows forbids.
      {"q?.txt", false},
      {"a<b", false},
      {"a>b", false},
      {"a\"b", false},
      {"a|b", false},
      {"a*b", false},
      {"a/b", false},
      {"c:d", false},
      {"tab\x09.txt", false},
      {std::string("nul\0x", 5), false},
      // A trailing dot or space, which Windows drops.
      {"trail.", false},
      {"trail ", false},
      {"trail. ", false},
      {"ui.\\x.txt", false},
      {"dir \\x.txt", false},
      // Empty components, rooted names, parent references.
      {"a\\\\b", false},
      {"a\\", false},
      {"", false},
      {"\\rooted.txt", false},
      {"a..b.txt", false},
      {"ui\\..\\x", false},
      // Not UTF-8: a Latin-1 byte, a stray byte, an overlong '/', a
      // surrogate, a value above U+10FFFF, a cut sequence.
      {"caf\xE9.txt", false},
      {"\xFF.txt", false},
      {"a\xC0\xAF"
       "b",
       false},
      {"\xED\xA0\x80.txt", false},
      {"\xF4\x90\x80\x80", false},
      {"cut\xE2\x82", false},
  };
  return cases;
}
