// The package appended to the setup executable: reading its index,
// extracting its files and writing the package-less uninstaller.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

bool ReadPackageIndex();
// After ReadPackageIndex found no package: true when the file still shows
// where one was (a damaged setup file, not an uninstaller).
bool CarriesUnreadablePackage();
uint64_t CertificateEntryOffset(HANDLE file);
uint64_t PackageSearchEnd(HANDLE file, uint64_t size);
bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD n);
bool ReadExact(HANDLE file, void* buffer, DWORD n);
std::wstring Utf8ToWide(const std::string& bytes);

bool ExtractPayload();
bool WriteUninstaller();
