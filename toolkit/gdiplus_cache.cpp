// The GDI+ wrapper headers keep their generic string formats and font
// families in these slots, which the ordinary import library defines. GDI+ is
// linked through a delay-load library (it must not be loaded before the DLL
// search is restricted), and that library carries functions only, so the
// slots are defined here.
extern "C" {
void* _GdipStringFormatCachedGenericDefault = nullptr;
void* _GdipStringFormatCachedGenericTypographic = nullptr;
void* _GdipFontFamilyCachedGenericMonospace = nullptr;
void* _GdipFontFamilyCachedGenericSansSerif = nullptr;
void* _GdipFontFamilyCachedGenericSerif = nullptr;
}
