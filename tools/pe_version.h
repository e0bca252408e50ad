// The product version string of a Windows executable's version block, read
// without any Windows API so that the packer can take the package version
// from the product itself on any system.
#pragma once

#include <filesystem>
#include <string>

// The "ProductVersion" text of the first string table of the executable's
// version resource, in UTF-8. False with a message when the file is not a PE
// image, has no version block, or the block has no product version.
bool ReadProductVersion(const std::filesystem::path& exe, std::string* version, std::string* error);
