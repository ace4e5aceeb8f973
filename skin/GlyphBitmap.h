// Bitmaps made from image files and memory (Windows build only).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "skin/GdiplusObjects.h"

// Loads an image file (code page 936 path); nullptr when it cannot be read
// as an image.
TGpBitmapPtr LoadBitmapFile(const std::string& path);
// Decodes an encoded image (PNG and the others GDI+ reads) held in memory
// into a self-contained 32-bit ARGB bitmap that keeps no reference to the
// bytes; nullptr when they are no image.
TGpBitmapPtr DecodeBitmap(const uint8_t* bytes, size_t size);
