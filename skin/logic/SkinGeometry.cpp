#include "skin/logic/SkinGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// a * b / c rounded half away from zero, as the system's MulDiv does.
int MulDivRounded(int a, int b, int c) {
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t magnitude = (std::llabs(product) + std::llabs(c) / 2) / std::llabs(c);
  return static_cast<int>((product < 0) != (c < 0) ? -magnitude : magnitude);
}

}  // namespace

TLGButtonState ButtonState(bool enabled, bool down, bool hover) {
  if (!enabled) return lgsDisable;
  if (down) return lgsDown;
  if (hover) return lgsActive;
  return lgsNormal;
}

std::optional<TLGButtonState> GlyphToDraw(TLGButtonState state, const bool held[4]) {
  if (held[state]) return state;
  if (held[lgsNormal]) return lgsNormal;
  return std::nullopt;
}

TRectF ButtonTextRect(const TRectI& bounds, TLGButtonState state) {
  TRectF rect{static_cast<float>(bounds.X), static_cast<float>(bounds.Y + 1), static_cast<float>(bounds.Width),
              static_cast<float>(bounds.Height)};
  // A pressed button's text sinks with its image.
  if (state == lgsDown) {
    rect.X += 1;
    rect.Y += 1;
  }
  return rect;
}

uint32_t FontColorToArgb(uint32_t color) {
  const uint32_t r = color & 0xFF;
  const uint32_t g = (color >> 8) & 0xFF;
  const uint32_t b = (color >> 16) & 0xFF;
  return 0xFF000000u | r << 16 | g << 8 | b;
}

int LogFontHeight(int pointSize) { return -MulDivRounded(pointSize, 96, 72); }

int PointSizeFromPixelHeight(int height) { return MulDivRounded(std::abs(height), 72, 96); }

int LabelStringAlignment(TAlignment alignment) { return alignment == taCenter ? 1 : 0; }

TRectI GlyphFrame(int width, int height, int frame, bool horizontal) {
  if (horizontal) {
    const int frameWidth = width / 4;
    return {frame * frameWidth, 0, frameWidth, height};
  }
  const int frameHeight = height / 4;
  return {0, frame * frameHeight, width, frameHeight};
}

bool TProgressRange::SetPosition(int64_t value) {
  if (value == Position || value < Min || value > Max) return false;
  Position = value;
  return true;
}

bool TProgressRange::SetMax(int64_t value) {
  if (value == Max || value <= Min) return false;
  Max = value;
  if (Position > value) Position = value;
  return true;
}

bool TProgressRange::SetMin(int64_t value) {
  if (value == Min || value < 0 || value >= Max) return false;
  Min = value;
  if (Position < value) Position = value;
  return true;
}

TProgressLayout LayoutProgress(const TRectI& bounds, int xOffset, int64_t position, int64_t max,
                               std::optional<TSizeI> background, std::optional<TSizeI> fill,
                               std::optional<TSizeI> cap) {
  TProgressLayout layout;
  // Without a fill image the bar draws nothing, its background included.
  if (!fill) return layout;
  const float x = static_cast<float>(bounds.X + xOffset);
  const float y = static_cast<float>(bounds.Y);
  const float width = static_cast<float>(bounds.Width);

  if (background) {
    // The source is as wide as the bar: a narrower image repeats (tile wrap).
    const float height = static_cast<float>(background->Height);
    layout.Background = TImagePlacement{{x, y, width, height}, {0, 0, width, height}};
  }

  // The fill length is kept in single precision; Min plays no part.
  const float length =
      max > 0 ? static_cast<float>(static_cast<double>(position) / static_cast<double>(max) * bounds.Width) : 0.0f;
  layout.FillLength = length;
  const float fillHeight = static_cast<float>(fill->Height);
  const float fillSource = std::min(std::floor(length), static_cast<float>(fill->Width));
  layout.Fill = TImagePlacement{{x, y, length, fillHeight}, {0, 0, fillSource, fillHeight}};

  if (cap) {
    // The cap's right edge rides on the end of the fill; a cap longer than
    // the fill shows only its rightmost part.
    const float capWidth = static_cast<float>(cap->Width);
    const float capHeight = static_cast<float>(cap->Height);
    if (capWidth > length) {
      layout.Cap = TImagePlacement{{x, y, length, capHeight}, {capWidth - length, 0, length, capHeight}};
    } else {
      layout.Cap = TImagePlacement{{x + length - capWidth, y, capWidth, capHeight}, {0, 0, capWidth, capHeight}};
    }
  }
  return layout;
}
