// Painting the screens into PNG files without a window.
#pragma once

#include <windows.h>

#include <string>

#include "app/state.h"

// One image of the export: file name without extension, and what it shows.
struct PreviewEntry {
  const wchar_t* file;
  Mode mode;
  Screen screen;
};
inline constexpr int previewCount = 7;
extern const PreviewEntry previewEntries[previewCount];

// 0 when every image was written into `folder`, 1 otherwise.
int ExportPreviews(const std::wstring& folder);

// The class id of the installed "image/png" encoder.
bool FindPngEncoder(CLSID* clsid);

// Puts the record in the state a preview of (mode, screen) shows: the sample
// progress of 103 Mo of 160 Mo, the sample status and error sentences.
void SetPreviewSample(Mode mode, Screen screen);
