// Reading the switches of a command line. The line is split into arguments
// by the system's own rules (CommandLineToArgvW); the first argument, the
// program's path, is never searched, and a switch is a whole argument or,
// for the switches that carry a value, the start of one.
#pragma once

#include <string>
#include <vector>

// The arguments after the program's path, as the system splits the line.
// One difference: a backslash is never an escape, since none of our values
// can hold a double quote, so `/dir="C:\My Apps\"` (as a batch file's %~dp0
// gives it) ends its quote where the user meant. When a double quote is left
// open, the last argument (which runs to the end of the line) is not
// returned and `quoteLeftOpen` is set.
std::vector<std::wstring> CommandLineArguments(const wchar_t* line, bool* quoteLeftOpen = nullptr);

// True when an argument after the program's path is `text` (any case).
bool HasSwitch(const wchar_t* line, const wchar_t* text);

// The rest of the first argument that starts with `key` (which includes its
// '='; any case); empty when there is none. `/dir="C:\My Apps"` and
// `"/dir=C:\My Apps"` give the same value.
std::wstring SwitchValue(const wchar_t* line, const wchar_t* key);

// True when the line ends inside a double quote: its last switch, and
// whatever it swallowed, cannot be read.
bool QuoteLeftOpen(const wchar_t* line);

// SwitchValue made absolute against the current folder (a relative folder or
// one without its drive's root); empty when the switch is absent or empty.
std::wstring SwitchPath(const wchar_t* line, const wchar_t* key);
