// Painting the screens into PNG files without a window.
#pragma once

#include <string>

// 0 when every image was written into `folder`, 1 otherwise.
int ExportPreviews(const std::wstring& folder);
