#include "toolkit/draw.h"

// Plain ARGB values: defining them before main creates no GDI+ object, so a
// silent run that never starts GDI+ stays clean.
const Gdiplus::Color colorWhite(0xFFFFFFFF);
const Gdiplus::Color colorText(0xFFE5E7EB);
const Gdiplus::Color colorBody(0xFFC3C9D8);
const Gdiplus::Color colorMuted(0xFFA7AFC2);
const Gdiplus::Color colorAccent(0xFFEC4899);

const std::vector<Gdiplus::Color> accentGradient = {Gdiplus::Color(0xFFB49CFF), Gdiplus::Color(0xFF5EEAF7),
                                                    Gdiplus::Color(0xFFFF7AC3)};

Gdiplus::Color MakeColor(uint32_t rgb, uint8_t alpha) {
  return Gdiplus::Color(alpha, static_cast<BYTE>((rgb >> 16) & 0xFF), static_cast<BYTE>((rgb >> 8) & 0xFF),
                        static_cast<BYTE>(rgb & 0xFF));
}

ContrastTheme contrastTheme = {};

ContrastTheme SystemContrastTheme() {
  return ContrastTheme{false,
                       SystemColor(COLOR_WINDOW),
                       SystemColor(COLOR_WINDOWTEXT),
                       SystemColor(COLOR_BTNFACE),
                       SystemColor(COLOR_BTNTEXT),
                       SystemColor(COLOR_HIGHLIGHT),
                       SystemColor(COLOR_HIGHLIGHTTEXT),
                       SystemColor(COLOR_GRAYTEXT)};
}

ContrastTheme BlackContrastTheme() {
  return ContrastTheme{false,
                       Gdiplus::Color(0xFF000000),
                       Gdiplus::Color(0xFFFFFFFF),
                       Gdiplus::Color(0xFF000000),
                       Gdiplus::Color(0xFFFFFFFF),
                       Gdiplus::Color(0xFF1AEBFF),
                       Gdiplus::Color(0xFF000000),
                       Gdiplus::Color(0xFF3FF23F)};
}

Gdiplus::Color Ink(Gdiplus::Color normal) { return contrastTheme.on ? contrastTheme.windowText : normal; }

Gdiplus::Color SystemColor(int index) {
  const COLORREF c = GetSysColor(index);
  return Gdiplus::Color(255, GetRValue(c), GetGValue(c), GetBValue(c));
}
