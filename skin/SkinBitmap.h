// Skin images of the appended package as GDI+ bitmaps (Windows build only).
#pragma once
#include <cstdint>
#include <string>

#include "skin/GdiplusObjects.h"

// Reads the skin record at `cursor` (advanced past it) from the program
// file `exePath`, whose verified skin block the caller gives, and makes a
// bitmap of it, owned by the caller; nullptr when the record gives no image.
// GDI+ must have been started.
TGpBitmapPtr ReadSkinBitmapFrom(const std::string& exePath, int32_t resoffset, int32_t ressize,
                                const std::string& label, int32_t& cursor);
