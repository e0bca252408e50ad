// Painting the screens into PNG files without a window.
#pragma once

#include <windows.h>
// objidl.h first: WIN32_LEAN_AND_MEAN leaves out the COM types that gdiplus.h needs.
#include <objidl.h>

#include <string>

#include "app/state.h"

// 0 when every image was written into `folder`, 1 otherwise.
int ExportPreviews(const std::wstring& folder);

// The class id of the installed "image/png" encoder.
bool FindPngEncoder(CLSID* clsid);

// Puts the record in the state a preview of (mode, screen) shows: the sample
// progress of 103 Mo of 160 Mo, the sample status and error sentences.
void SetPreviewSample(Mode mode, Screen screen);
