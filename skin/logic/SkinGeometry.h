// Geometry and state rules of the skin controls as plain data and pure
// functions: which image a state draws, text rectangles, colours, font
// heights, glyph strip frames, progress bar ranges and layout. Portable (no
// OS header), so the native suite tests them; the GDI+ layer only draws what
// these functions say.
#pragma once
#include <cstdint>
#include <optional>

enum TLGButtonState { lgsNormal = 0, lgsActive = 1, lgsDown = 2, lgsDisable = 3 };
enum TAlignment { taLeftJustify = 0, taRightJustify = 1, taCenter = 2 };

struct TRectI {
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool Contains(int x, int y) const { return x >= X && y >= Y && x < X + Width && y < Y + Height; }
};
struct TRectF {
  float X = 0, Y = 0, Width = 0, Height = 0;
};
struct TSizeI {
  int Width = 0, Height = 0;
};

// Disabled wins over down, down over hover.
TLGButtonState ButtonState(bool enabled, bool down, bool hover);
// The state whose bitmap is drawn: `state` when held, else lgsNormal when
// held, else nothing.
std::optional<TLGButtonState> GlyphToDraw(TLGButtonState state, const bool held[4]);
// Text rectangle of a button: (Left, Top + 1, Width, Height), +1/+1 when down.
TRectF ButtonTextRect(const TRectI& bounds, TLGButtonState state);
// Font.Color (0x00BBGGRR, system colours split like any value) to ARGB.
uint32_t FontColorToArgb(uint32_t color);
// LOGFONT lfHeight for a point size at 96 dpi: -MulDiv(size, 96, 72).
int LogFontHeight(int pointSize);
// Whole point size that a stored pixel height gives at 96 dpi (rounded).
int PointSizeFromPixelHeight(int height);
// Horizontal string alignment of a label: centre (1) when centred, else near (0).
int LabelStringAlignment(TAlignment alignment);
// Frame k (0..3) of a four-frame glyph strip of w x h pixels.
TRectI GlyphFrame(int width, int height, int frame, bool horizontal);

// Range of a progress bar, kept 0 <= Min < Max and Min <= Position <= Max.
// Each setter returns true when the value changed (the bar then repaints).
struct TProgressRange {
  int64_t Min = 0;
  int64_t Max = 100;
  int64_t Position = 0;
  bool SetPosition(int64_t value);
  bool SetMax(int64_t value);
  bool SetMin(int64_t value);
};

// What a progress bar draws: destination and source rectangles of its
// background, fill and cap. A part that is not drawn has no value.
struct TImagePlacement {
  TRectF Dest;
  TRectF Source;
};
struct TProgressLayout {
  std::optional<TImagePlacement> Background;
  std::optional<TImagePlacement> Fill;
  std::optional<TImagePlacement> Cap;
  float FillLength = 0;  // single precision, as the bar keeps it
};
// Layout of a bar at `bounds` shifted by `xOffset`; images given by size,
// absent ones by nothing. No fill image: nothing at all is drawn.
TProgressLayout LayoutProgress(const TRectI& bounds, int xOffset, int64_t position, int64_t max,
                               std::optional<TSizeI> background, std::optional<TSizeI> fill,
                               std::optional<TSizeI> cap);
