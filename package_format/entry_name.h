// Which entry names a package may carry, and how Windows compares names.
// Product folders are made on Linux, where a name is any bytes but '/' and
// case matters; the setup program writes them on Windows, which forbids some
// characters and device names, drops a trailing dot or space, and compares
// names without case. The packer refuses such names before packing (and in
// list and verify), the setup program refuses them as a damaged package
// before writing anything: both through these rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class NameRule : uint8_t {
  kNone = 0,
  // The whole name, as the format carries it.
  kEmpty,
  kTooLong,          // above the 65,535 bytes of its length field
  kParentReference,  // ".." anywhere
  kColon,            // a drive or an alternate stream
  kRooted,           // a leading separator
  kControl,          // a control character
  // One component (file or folder name) of it, as Windows creates it.
  kEmptyComponent,      // two separators in a row, or one at the end
  kNotUtf8,             // Windows names are Unicode
  kForbiddenCharacter,  // < > : " / \ | ? * or a control character
  kTrailingDot,         // Windows drops it
  kTrailingSpace,       // Windows drops it
  kDeviceName,          // CON, PRN, AUX, NUL, COM1-9, LPT1-9 (also ¹²³), any case and extension
};

struct NameVerdict {
  NameRule rule = NameRule::kNone;
  size_t componentEnd = 0;  // for a component's rule: where the offending component ends
  unsigned char byte = 0;   // for kForbiddenCharacter: the character
};

// One component (file or folder name) of a path.
NameVerdict CheckNameComponent(std::string_view component);

// A package entry name: the format's rules, then each component's.
NameVerdict CheckPackageEntryName(std::string_view name);

inline bool IsInstallableEntryName(std::string_view name) {
  return CheckPackageEntryName(name).rule == NameRule::kNone;
}

// Length of the valid UTF-8 sequence at `at` and its code point; 0 when the
// bytes there are not one (overlong forms, surrogates, values above
// U+10FFFF, cut sequences).
size_t DecodeUtf8At(std::string_view text, size_t at, uint32_t* code);

// The UTF-16 units of a UTF-8 name; false on invalid UTF-8.
bool DecodeUtf8(std::string_view name, std::u16string* units);

// Uppercase of one UTF-16 unit, as Windows maps names before comparing them
// (upcase.inc, generated from Unicode's simple uppercase mapping).
char16_t UpcaseUnit(char16_t unit);

// Two texts equal without regard to case, as Windows compares names: one
// UTF-16 unit at a time through UpcaseUnit (no locale, no expansions: "ß"
// is not "SS").
bool SameTextIgnoringCase(std::u16string_view a, std::u16string_view b);

// Two entries that Windows would take for one path.
enum class ClashKind : uint8_t {
  kSpelling,       // the same path spelled in another case
  kTwice,          // the same file stored twice
  kFileAndFolder,  // a file where another entry needs a folder
};

struct NameClash {
  size_t index = 0;       // the later entry
  size_t pathEnd = 0;     // bytes of its name up to the clashing path (a folder, or the whole name)
  size_t earlier = 0;     // the entry that first spelled that path
  size_t earlierEnd = 0;  // and how much of its name that path is
  ClashKind kind = ClashKind::kSpelling;
};

// Every later entry that Windows would take for an earlier one's path, at
// most one per entry (its shortest clashing path). One folder spelled two
// ways counts only when `folderSpellingsClash`: the packer refuses it, the
// setup program writes both spellings' files into one folder. The names
// must have passed CheckPackageEntryName.
std::vector<NameClash> FindNameClashes(const std::vector<std::string>& names, bool folderSpellingsClash);
