// The names that the setup program writes below the installation folder.
#pragma once

#include <string>

// True when every component of a package entry name (UTF-8, backslashes
// between folders) is a name Windows creates as given: valid UTF-8, not
// empty, none of the characters Windows forbids (< > : " / | ? * and the
// control characters), no trailing dot or space (Windows would drop them),
// and no device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, also with a
// superscript digit) in any case or with any extension.
bool IsWindowsEntryName(const std::string& name);
