// The main window's form: its client size and the 21 skin controls with
// their form defaults, in component order (the composition order: later
// controls lie on top). The window builds its controls from this table.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "skin/logic/SkinGeometry.h"

constexpr int FormClientWidth = 985;
constexpr int FormClientHeight = 554;

enum class TControlClass { Picture, Button, Label, Progress };

// The orange of the window's labels and white, as 0x00BBGGRR.
constexpr uint32_t LabelOrange = 4227327;
constexpr uint32_t LabelWhite = 0xFFFFFF;

struct TControlDefaults {
  const char* Name;
  TControlClass Class;
  TRectI Bounds;
  bool Visible;
  bool Enabled;
  int Tag;
  bool HandCursor;
  TAlignment Alignment;
  const char* Caption;   // code page 936; kept, never drawn
  const char* WideText;  // code page 936; what a label shows
  uint32_t FontColor;    // labels only
};

const std::vector<TControlDefaults>& MainFormControls();
// The entry of `name`, or nullptr.
const TControlDefaults* FindMainFormControl(const std::string& name);

// Fonts: labels "黑体" at 14 pixels, the other controls "宋体" at 12 pixels,
// each as the whole point size that the controls keep.
struct TFormFont {
  const char* Name;  // code page 936
  int Size;
};
TFormFont LabelFont();
TFormFont BodyFont();
