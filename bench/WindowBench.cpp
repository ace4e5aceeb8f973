// window-bench: the cost of one full recomposition of the main window.
//   window-bench PACKED_LAUNCHER.exe [ROUNDS]
// Builds the main window's skin from the package of the given launcher
// (positions and images, as the first RunTimer tick does), shows the window
// and times ROUNDS compositions into the ARGB bitmap (ComposeBitmap) and
// ROUNDS complete PaintChilds (composition and drawing on the window's DC).
// Prints the median and the slowest round of each in milliseconds. The
// floor beside them: the same ARGB bitmap with the background alone copied
// into it, as one GDI+ draw of the 1002 x 642 image.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "package/PackageReader.h"
#include "skin/Gdiplus.h"
#include "skin/SkinBitmap.h"
#include "ui/MainSkin.h"

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename F>
std::vector<double> Time(int rounds, F step) {
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    step();
    QueryPerformanceCounter(&end);
    times.push_back(Milliseconds(start, end));
  }
  std::sort(times.begin(), times.end());
  return times;
}

void Report(const char* what, const std::vector<double>& times) {
  std::printf("%-25s %d rounds: median %.2f ms, slowest %.2f ms\n", what, static_cast<int>(times.size()),
              times[times.size() / 2], times.back());
}

// One bitmap of the background's size with the background drawn into it:
// the least any composition of this window costs.
void DrawBackgroundAlone(GpBitmap* background) {
  using namespace Gdiplus;
  UINT width = 0, height = 0;
  DllExports::GdipGetImageWidth(background, &width);
  DllExports::GdipGetImageHeight(background, &height);
  GpBitmap* target = nullptr;
  if (DllExports::GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0,
                                            PixelFormat32bppARGB, nullptr, &target) != Ok)
    return;
  TGpBitmapPtr owned(target);
  GpGraphics* graphics = nullptr;
  if (DllExports::GdipGetImageGraphicsContext(target, &graphics) != Ok) return;
  TGpGraphicsPtr ownedGraphics(graphics);
  DllExports::GdipSetCompositingMode(graphics, CompositingModeSourceCopy);  // an opaque copy, no blending
  DllExports::GdipDrawImageRectI(graphics, background, 0, 0, static_cast<INT>(width), static_cast<INT>(height));
}

// Lets the window handle what showing it queued (paint, activation).
void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: window-bench PACKED_LAUNCHER.exe [ROUNDS]\n");
    return 2;
  }
  const std::string exe = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
  TGdiplusSession gdiplus;
  if (!gdiplus.Ok()) return 1;
  TLauncherConfig config;
  TPackageLocations locations;
  ReadPackage(exe, "launcher", config, locations);
  if (locations.resoffset == 0) {
    std::fprintf(stderr, "window-bench: %s has no verified skin\n", exe.c_str());
    return 1;
  }
  TfrmMainSkin form;
  form.EndsApplication = false;
  form.ResetComponentOffsetFrom(exe, locations);
  form.ApplyUpdatingLook();
  form.LoadImageresourceFrom(exe, locations);
  form.Show();
  PumpMessages();
  std::printf("window %d x %d\n", form.ClientWidth(), form.ClientHeight());

  // Warm-up: the first composition creates the fonts and caches of GDI+.
  form.ComposeBitmap();
  form.PaintChilds();
  int32_t cursor = locations.resoffset;
  TGpBitmapPtr background = ReadSkinBitmapFrom(exe, locations.resoffset, locations.ressize, "background", cursor);
  if (background) Report("background alone", Time(rounds, [&] { DrawBackgroundAlone(background.get()); }));
  Report("ComposeBitmap", Time(rounds, [&] { form.ComposeBitmap(); }));
  Report("PaintChilds", Time(rounds, [&] {
           form.PaintChilds();
           GdiFlush();
         }));
  form.ApplyLoginLook();
  Report("PaintChilds (login look)", Time(rounds, [&] {
           form.PaintChilds();
           GdiFlush();
         }));
  PumpMessages();
  return 0;
}
