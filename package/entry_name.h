// The names that the setup program writes below the installation folder.
// The rules themselves are the package format's (package_format/entry_name.h),
// shared with the packer.
#pragma once

#include <string>
#include <vector>

// True when every component of a package entry name (UTF-8, backslashes
// between folders) is a name Windows creates as given: valid UTF-8, not
// empty, none of the characters Windows forbids (< > : " / | ? * and the
// control characters), no trailing dot or space (Windows would drop them),
// and no device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, also with a
// superscript digit) in any case or with any extension; and, for the whole
// name, relative, without ".." anywhere.
bool IsSafeEntryName(const std::string& name);

// True when two entries would be one file on Windows, which compares names
// without case: the same path twice, two spellings of it, or a file where
// another entry needs a folder. The later entry would overwrite the earlier
// or fail once the files are half written. One folder spelled two ways is
// one folder, and its files go there.
bool EntriesCollide(const std::vector<std::string>& names);
