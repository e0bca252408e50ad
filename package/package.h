// The package appended to the setup executable: reading its index,
// extracting its files and writing the package-less uninstaller.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package_format/source.h"

bool ReadPackageIndex();
// After ReadPackageIndex found no package: true when the file still shows
// where one was (a damaged setup file, not an uninstaller).
bool CarriesUnreadablePackage();
uint64_t CertificateEntryOffset(HANDLE file);
uint64_t PackageSearchEnd(HANDLE file, uint64_t size);
bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD n);
bool ReadExact(HANDLE file, void* buffer, DWORD n);
std::wstring Utf8ToWide(const std::string& bytes);
// The open file as the package format reads it (size 0 when it cannot be
// taken); the handle must outlive the source.
ByteSource FileSource(HANDLE file);

struct InstallTransaction;

// Writes every entry into installDir; each file the transaction plans as a
// replacement is moved aside first (none without a transaction).
bool ExtractPayload(const InstallTransaction* transaction = nullptr);
// The names of the package's entries, relative to the installation folder,
// read from the entry table without writing anything.
bool ReadPackageEntryNames(std::vector<std::wstring>* names);
bool WriteUninstaller(const InstallTransaction* transaction = nullptr);
