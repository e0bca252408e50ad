#include "toolkit/icons.h"

using Gdiplus::PointF;

// Built by static initialisation: plain point lists, no GDI+ object.
const Icon iconArrow = {{PointF(3, 8), PointF(13, 8)}, {PointF(9, 4), PointF(13, 8), PointF(9, 12)}};
const Icon iconCheck = {{PointF(3.5f, 8.5f), PointF(6.5f, 11.5f), PointF(12.5f, 4.5f)}};
const Icon iconClose = {{PointF(4, 4), PointF(12, 12)}, {PointF(12, 4), PointF(4, 12)}};
const Icon iconMinimize = {{PointF(3.5f, 8), PointF(12.5f, 8)}};

Icon MapIcon(const Icon& icon, float x, float y, float size) {
  const float k = size / 16.0f;
  Icon mapped = icon;
  for (auto& line : mapped) {
    for (auto& p : line) p = PointF(x + p.X * k, y + p.Y * k);
  }
  return mapped;
}

void DrawIcon(Gdiplus::Graphics& g, const Icon& icon, float x, float y, float size, Gdiplus::Color color,
              float stroke) {
  Gdiplus::Pen pen(color, IconPenWidth(size, stroke));
  pen.SetStartCap(Gdiplus::LineCapRound);
  pen.SetEndCap(Gdiplus::LineCapRound);
  pen.SetLineJoin(Gdiplus::LineJoinRound);
  // One DrawLines per polyline, so its joints are rounded joins, not caps.
  for (const auto& line : MapIcon(icon, x, y, size)) {
    if (line.size() >= 2) g.DrawLines(&pen, line.data(), static_cast<INT>(line.size()));
  }
}
