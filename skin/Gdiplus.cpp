#include "skin/Gdiplus.h"

TGdiplusSession::TGdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&FToken, &input, nullptr) != Gdiplus::Ok) FToken = 0;
}

TGdiplusSession::~TGdiplusSession() {
  if (FToken) Gdiplus::GdiplusShutdown(FToken);
}
