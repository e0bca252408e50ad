// Whole numbers as text, for messages, logs and accessible values.
#pragma once

#include <cstdint>
#include <string>

// The decimal digits of n. (std::to_wstring formats through the C library's
// wide printf, which would bring its whole formatter, floating point
// included, into the program for a few integers.)
inline std::wstring DecimalText(uint64_t n) {
  wchar_t digits[20];
  size_t at = 20;
  do {
    digits[--at] = static_cast<wchar_t>(L'0' + n % 10);
    n /= 10;
  } while (n != 0);
  return std::wstring(digits + at, digits + 20);
}
