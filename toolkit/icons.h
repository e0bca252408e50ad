// Vector pictograms: polylines in a 16 x 16 unit box, stroked at any size
// with round caps and joins.
#pragma once

// clang-format off
#include <windows.h>
#include <objidl.h>  // COM types that gdiplus.h needs and WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>
// clang-format on

#include <vector>

// An ordered list of polylines; each polyline an ordered list of points in
// icon units (origin top-left, y downward). Two points make one segment.
using Icon = std::vector<std::vector<Gdiplus::PointF>>;

extern const Icon iconArrow;     // arrow pointing right
extern const Icon iconCheck;     // check mark
extern const Icon iconClose;     // diagonal cross
extern const Icon iconMinimize;  // horizontal bar

// The icon's polylines mapped to layout units: box top-left at (x, y), the
// box scaled to size x size.
Icon MapIcon(const Icon& icon, float x, float y, float size);

// Pen width in layout units for a stroke given in icon units.
inline float IconPenWidth(float size, float stroke) { return stroke * size / 16.0f; }

// Strokes the icon with its box's top-left corner at (x, y), scaled to
// size x size; the stroke width is in icon units.
void DrawIcon(Gdiplus::Graphics& g, const Icon& icon, float x, float y, float size, Gdiplus::Color color,
              float stroke);
