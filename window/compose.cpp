#include "window/compose.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/state.h"
#include "toolkit/backdrop.h"
#include "window/screens.h"
#include "window/window.h"

// Painting every frame in full costs the same for a still Welcome screen as
// for a changing one. The still content (backdrop, texts, buttons, the bar's
// base) is painted into a layer only when something it shows changes; each
// tick then copies the layer and paints the animated elements over it. The
// pixels are those of a full repaint, since the animated elements are the
// last ones painted in their area.

namespace {

HBITMAP backSection = nullptr;  // memory of backBuffer, so it can be blitted directly
uint32_t* backPixels = nullptr;
std::vector<uint32_t> layerPixels;
Gdiplus::Bitmap* layerBitmap = nullptr;
int surfaceWidth = 0;
int surfaceHeight = 0;
bool layerReady = false;
FrameContext layerFrame;

void DeleteSurfaces() {
  delete layerBitmap;
  layerBitmap = nullptr;
  layerPixels.clear();
  delete backBuffer;
  backBuffer = nullptr;
  if (backSection) DeleteObject(backSection);
  backSection = nullptr;
  backPixels = nullptr;
  surfaceWidth = surfaceHeight = 0;
  layerReady = false;
}

bool BackdropMatches(int width, int height) {
  return backdropBitmap && static_cast<int>(backdropBitmap->GetWidth()) == width &&
         static_cast<int>(backdropBitmap->GetHeight()) == height;
}

// The backdrop is rebuilt when missing or of another size, and the back
// buffer (and the layer) always together with it.
bool EnsureSurfaces(int width, int height) {
  if (BackdropMatches(width, height) && backBuffer && surfaceWidth == width && surfaceHeight == height)
    return true;
  RenderBackdrop(width, height);
  DeleteSurfaces();
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, like a GDI+ bitmap
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  backSection = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!backSection || !bits) {
    DeleteSurfaces();
    return false;
  }
  backPixels = static_cast<uint32_t*>(bits);
  backBuffer = new Gdiplus::Bitmap(width, height, width * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
  layerPixels.assign(static_cast<size_t>(width) * height, 0);
  layerBitmap = new Gdiplus::Bitmap(width, height, width * 4, PixelFormat32bppPARGB,
                                    reinterpret_cast<BYTE*>(layerPixels.data()));
  surfaceWidth = width;
  surfaceHeight = height;
  if (backBuffer->GetLastStatus() != Gdiplus::Ok || layerBitmap->GetLastStatus() != Gdiplus::Ok) {
    DeleteSurfaces();
    return false;
  }
  return true;
}

// Copies the backdrop's pixels into the layer: the same result as drawing it
// unscaled at (0, 0), without a resampling pass.
bool CopyBackdropToLayer() {
  if (!BackdropMatches(surfaceWidth, surfaceHeight)) return false;
  Gdiplus::Rect all(0, 0, surfaceWidth, surfaceHeight);
  Gdiplus::BitmapData data;
  if (backdropBitmap->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) != Gdiplus::Ok)
    return false;
  for (int y = 0; y < surfaceHeight; ++y) {
    memcpy(&layerPixels[static_cast<size_t>(y) * surfaceWidth],
           static_cast<BYTE*>(data.Scan0) + y * data.Stride, static_cast<size_t>(surfaceWidth) * 4);
  }
  backdropBitmap->UnlockBits(&data);
  return true;
}

RECT Clamp(RECT r) {
  r.left = std::max<LONG>(r.left, 0);
  r.top = std::max<LONG>(r.top, 0);
  r.right = std::min<LONG>(r.right, surfaceWidth);
  r.bottom = std::min<LONG>(r.bottom, surfaceHeight);
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

// The animated area in pixels, rounded outwards.
RECT AnimatedPixels(float scale) {
  const Gdiplus::RectF a = AnimatedArea();
  RECT r = {static_cast<LONG>(a.X * scale) - 1, static_cast<LONG>(a.Y * scale) - 1,
            static_cast<LONG>((a.X + a.Width) * scale) + 2, static_cast<LONG>((a.Y + a.Height) * scale) + 2};
  return Clamp(r);
}

void CopyLayerToBack(const RECT& r) {
  for (LONG y = r.top; y < r.bottom; ++y) {
    const size_t offset = static_cast<size_t>(y) * surfaceWidth + r.left;
    memcpy(backPixels + offset, &layerPixels[offset], static_cast<size_t>(r.right - r.left) * 4);
  }
}

}  // namespace

RECT TickDamage(int width, int height) {
  const RECT all = {0, 0, width, height};
  if (!layerReady || surfaceWidth != width || surfaceHeight != height || !BackdropMatches(width, height))
    return all;
  const FrameContext now = CaptureFrame();
  if (!now.SameContent(layerFrame)) return all;
  if (now.screen == Progress) return AnimatedPixels(now.uiScale);
  return RECT{0, 0, 0, 0};
}

bool ComposeFrame(HDC dc, int width, int height, const RECT& dirty) {
  if (!EnsureSurfaces(width, height)) return false;
  const FrameContext frame = CaptureFrame();
  const bool repaintStill = !layerReady || !frame.SameContent(layerFrame);
  if (repaintStill) {
    const bool inPlace = CopyBackdropToLayer();
    {
      Gdiplus::Graphics g(layerBitmap);
      PaintFrame(g, frame, FramePart::Still, inPlace);
    }
    layerFrame = frame;
    layerReady = true;
    CopyLayerToBack(RECT{0, 0, width, height});
  }
  if (frame.screen == Progress) {
    const RECT area = AnimatedPixels(frame.uiScale);
    if (!repaintStill) CopyLayerToBack(area);
    Gdiplus::Graphics g(backBuffer);
    g.SetClip(Gdiplus::Rect(area.left, area.top, area.right - area.left, area.bottom - area.top));
    PaintFrame(g, frame, FramePart::Animated, true);
  }

  const RECT out = Clamp(dirty);
  if (out.right > out.left && out.bottom > out.top) {
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(source, backSection);
    BitBlt(dc, out.left, out.top, out.right - out.left, out.bottom - out.top, source, out.left, out.top,
           SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
  }
  return repaintStill;
}

void ReleaseFrameSurfaces() { DeleteSurfaces(); }

void DiscardStillLayer() { layerReady = false; }
