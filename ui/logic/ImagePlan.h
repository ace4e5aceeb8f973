// The binding of the skin images to the window as data: 38 steps over the
// 33 stored images, read strictly in sequence. Where two controls need the
// same image, a second cursor saved earlier reads the same bytes again, so
// each control gets a bitmap of its own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "skin/logic/SkinGeometry.h"

enum class TImageCursor { Main, Second };
enum class TImageTarget { Background, ButtonState, Picture, BarBackground, BarFill, PickerActive, PickerNormal, PickerNew };

struct TImageStep {
  const char* Label;      // the log name of the image
  TImageCursor Cursor;
  bool SaveSecondBefore;  // second cursor := main cursor before this step
  TImageTarget Target;
  const char* Control;    // ButtonState, Picture, BarBackground, BarFill
  TLGButtonState State;   // ButtonState only
};

const std::vector<TImageStep>& ImageBindingPlan();

// Reads the image of one step at `cursor` (advancing it past the record) and
// binds it; false when the step yields no image.
using TImageStepBinder = std::function<bool(const TImageStep& step, int32_t& cursor)>;

// Runs the plan from the skin block at `resoffset`; nothing when it is 0 (no
// valid block). Stops at the first step that yields no image, keeping the
// earlier bindings. Returns the number of steps bound.
size_t RunImagePlan(int32_t resoffset, const TImageStepBinder& bind);
