// The packer's words for the entry-name rules (package_format/entry_name.h,
// which the setup program applies too), and its own rule on path lengths. Product folders are made on Linux,
// where a name is any bytes but '/' and case matters; Windows forbids some characters and device names, drops
// a trailing dot or space, compares names without case and limits the length of a path. Portable C++ only:
// the packer's build, list and verify share these rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "package_format/entry_name.h"  // DecodeUtf8, UpcaseUnit

// The folder an install lands in by default, for the longest local account
// name Windows allows (20 characters). Paths below it must fit in MAX_PATH
// (259 characters and the terminating null), and their folders in the 247
// characters that CreateDirectoryW accepts without the long-path prefix.
inline constexpr char kTypicalInstallFolder[] =
    "C:\\Users\\twentycharacter-name\\AppData\\Local\\Programs\\Norvale Lockra";
inline constexpr size_t kWindowsPathLimit = 259;
inline constexpr size_t kWindowsFolderLimit = 247;
// A name within this many characters of a limit only draws a warning: it
// fits the typical folder but not a longer profile folder (a domain suffix)
// or an installation folder chosen with /dir.
inline constexpr size_t kNearLimitMargin = 32;

// The longest entry name, and the longest folder part of one, in UTF-16
// units, that fit below the typical installation folder.
inline constexpr size_t kLongestEntryName = kWindowsPathLimit - (sizeof kTypicalInstallFolder - 1) - 1;
inline constexpr size_t kLongestEntryFolder = kWindowsFolderLimit - (sizeof kTypicalInstallFolder - 1) - 1;

// One path that cannot be installed (or, when `refused` is false, that is
// close to a limit). `path` is the shortest offending part of the name: a
// folder once for all the files below it.
struct NameProblem {
  std::string path;  // as the package spells it, sub-folders separated by backslashes
  std::string why;
  bool refused = true;
};

// Why one component of a path (a file or folder name) cannot be created on
// Windows; empty when it can.
std::string CheckWindowsComponent(const std::string& component);

// Every problem of a package's names, at most one per offending path: what
// the format cannot carry, invalid UTF-8, characters and device names that
// Windows refuses, two paths that Windows sees as one (case-insensitive, at
// any depth, files and folders alike), and paths too long for the typical
// installation folder.
std::vector<NameProblem> CheckPackageNames(const std::vector<std::string>& names);

// The name fit for one terminal line: bytes that are not valid UTF-8, and
// control characters, as \xNN.
std::string PrintableName(const std::string& name);
