#include "package/entry_name.h"

#include "package_format/entry_name.h"

bool IsSafeEntryName(const std::string& name) { return IsInstallableEntryName(name); }

bool EntriesCollide(const std::vector<std::string>& names) {
  return !FindNameClashes(names, /*folderSpellingsClash=*/false).empty();
}
