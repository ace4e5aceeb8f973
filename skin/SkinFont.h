// The GDI+ font of one text draw, made from a LOGFONT on the screen device
// context: the way every skin text is drawn (controls and the server pop-up).
#pragma once
#include <string>

#include "skin/GdiplusObjects.h"

// `faceName` is code page 936, the ANSI code page of the launcher's systems,
// so the A call takes it as it is. Nothing when GDI+ refuses the font.
TGpFontPtr CreateSkinFont(const std::string& faceName, int pointSize, int lfWidth = 0, int lfWeight = 0);
