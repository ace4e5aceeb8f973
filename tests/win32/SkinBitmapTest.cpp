#include "skin/SkinBitmap.h"

#include "platform/File.h"
#include "skin/GlyphBitmap.h"

#include <gtest/gtest.h>

#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "support/PngEncoder.h"
#include "support/TestSupport.h"

namespace {

UINT Width(GpBitmap* bitmap) {
  UINT width = 0;
  Gdiplus::DllExports::GdipGetImageWidth(bitmap, &width);
  return width;
}

UINT Height(GpBitmap* bitmap) {
  UINT height = 0;
  Gdiplus::DllExports::GdipGetImageHeight(bitmap, &height);
  return height;
}

}  // namespace

TEST(SkinBitmap, PackageImagesBecomeBitmapsWithTheirSizes) {
  TGdiplusSession gdiplus;
  ASSERT_TRUE(gdiplus.Ok());
  TTempFolder folder;
  TPackageContent content;
  content.configText = "1 0 0 12 n a b c d e f g";
  content.images = {EncodeSolidPng(1002, 642, 0x204060FF), "not a png at all", EncodeSolidPng(40, 40, 0xFF0000FF)};
  content.positions.assign(84, 0);
  const std::string exe = "MZ" + std::string(510, '\0');
  const std::string path = folder / "launcher.exe";
  WriteWholeFile(path, exe + BuildPackage(content, static_cast<int64_t>(exe.size())));
  TLauncherConfig config;
  TPackageLocations locations;
  ReadPackage(path, "launcher", config, locations);
  ASSERT_NE(locations.resoffset, 0);

  TLogCapture capture;
  int32_t cursor = locations.resoffset;
  TGpBitmapPtr background = ReadSkinBitmapFrom(path, locations.resoffset, locations.ressize, "background", cursor);
  ASSERT_NE(background, nullptr);
  EXPECT_EQ(Width(background.get()), 1002u);
  EXPECT_EQ(Height(background.get()), 642u);
  EXPECT_TRUE(capture.Contains("4load img create istream begin"));
  EXPECT_TRUE(capture.Contains("load img background free MEM and filestream end"));

  // Bytes that are no image give no bitmap, and the cursor still moves on.
  EXPECT_EQ(ReadSkinBitmapFrom(path, locations.resoffset, locations.ressize, "broken", cursor), nullptr);
  TGpBitmapPtr close = ReadSkinBitmapFrom(path, locations.resoffset, locations.ressize, "close_normal", cursor);
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(Width(close.get()), 40u);
  EXPECT_EQ(cursor, locations.resoffset + locations.ressize);

  // The bitmaps hold their own pixels: the program file and the decoding
  // memory may go, drawing and reading them still works.
  EXPECT_TRUE(DeleteFileAt(path));
  Gdiplus::ARGB pixel = 0;
  EXPECT_EQ(Gdiplus::DllExports::GdipBitmapGetPixel(background.get(), 1001, 641, &pixel), Gdiplus::Ok);
  EXPECT_EQ(pixel, 0xFF204060u);
  EXPECT_EQ(Gdiplus::DllExports::GdipBitmapGetPixel(close.get(), 0, 0, &pixel), Gdiplus::Ok);
  EXPECT_EQ(pixel, 0xFFFF0000u);
}

TEST(SkinBitmap, DecodedImagesKeepTheirPixelsAndBrokenBytesGiveNothing) {
  TGdiplusSession gdiplus;
  ASSERT_TRUE(gdiplus.Ok());
  std::string png = EncodeSolidPng(3, 2, 0x11223380);
  TGpBitmapPtr bitmap = DecodeBitmap(reinterpret_cast<const uint8_t*>(png.data()), png.size());
  // The bytes are overwritten at once: the bitmap must not read them later.
  png.assign(png.size(), '\0');
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(Width(bitmap.get()), 3u);
  Gdiplus::PixelFormat format = 0;
  Gdiplus::DllExports::GdipGetImagePixelFormat(bitmap.get(), &format);
  EXPECT_EQ(format, PixelFormat32bppARGB);
  Gdiplus::ARGB pixel = 0;
  Gdiplus::DllExports::GdipBitmapGetPixel(bitmap.get(), 2, 1, &pixel);
  EXPECT_EQ(pixel, 0x80112233u);
  EXPECT_EQ(DecodeBitmap(reinterpret_cast<const uint8_t*>(png.data()), png.size()), nullptr);
  EXPECT_EQ(DecodeBitmap(nullptr, 0), nullptr);
}
