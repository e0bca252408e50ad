// The uninstall's journal: written before an uninstall changes anything and
// removed last, it tells the next run what is left to remove when an
// uninstall stopped part-way (a file held open, a crash, a log-off).
#pragma once

#include <string>

#include "system/install_record.h"

inline constexpr wchar_t kUninstallJournalName[] = L".norvale-uninstall.txt";

struct UninstallJournal {
  bool valid = false;
  // A folder installed before records existed: everything that was in it
  // when the uninstall began is listed as the product's, and programs
  // running from anywhere in it are ended.
  bool wholeFolder = false;
  // The uninstall entry, Run value and shortcuts are this folder's to remove.
  bool registration = false;
  InstallRecord items;  // files and folders to remove, relative to the folder
};

// The journal in `dir`; not valid when there is none or it was cut while
// being written (nothing had changed then).
UninstallJournal ReadUninstallJournal(const std::wstring& dir);
bool WriteUninstallJournal(const std::wstring& dir, const UninstallJournal& journal);
void DeleteUninstallJournal(const std::wstring& dir);

std::string FormatUninstallJournal(const UninstallJournal& journal);
UninstallJournal ParseUninstallJournal(const std::string& text);
