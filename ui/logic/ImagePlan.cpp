#include "ui/logic/ImagePlan.h"

namespace {

constexpr TImageCursor M = TImageCursor::Main;
constexpr TImageCursor S = TImageCursor::Second;

TImageStep Button(const char* label, TImageCursor cursor, const char* control, TLGButtonState state,
                  bool saveSecond = false) {
  return {label, cursor, saveSecond, TImageTarget::ButtonState, control, state};
}

TImageStep Other(const char* label, TImageCursor cursor, TImageTarget target, const char* control = "",
                 bool saveSecond = false) {
  return {label, cursor, saveSecond, target, control, lgsNormal};
}

}  // namespace

const std::vector<TImageStep>& ImageBindingPlan() {
  static const std::vector<TImageStep> plan = {
      Other("background", M, TImageTarget::Background),
      Button("btn_cz_normal", M, "LGBtn3", lgsNormal),
      Button("btn_gw_normal", M, "LGBtn1", lgsNormal),
      Button("btn_lt_normal", M, "LGBtn2", lgsNormal),
      Button("btn_start_normal", M, "LGStart", lgsNormal),
      Button("btn_zc_normal", M, "LGBtn4", lgsNormal),
      Button("cb_normal", M, "btnSelServer", lgsNormal, true),
      Button("cb_normal", S, "btnSelMem", lgsNormal),
      Button("close_normal", M, "LGClose", lgsNormal),
      Other("frm_login", M, TImageTarget::Picture, "picLogin"),
      Button("min_normal", M, "LGmin", lgsNormal),
      Other("pic_slogan", M, TImageTarget::Picture, "picSlogan"),
      Other("Progress_bk", M, TImageTarget::BarBackground, "LGPTotal", true),
      Other("Progress_all", M, TImageTarget::BarFill, "LGPTotal"),
      Other("Progress_bk", S, TImageTarget::BarBackground, "LGCurrent"),
      Other("Progress_all", S, TImageTarget::BarFill, "LGCurrent"),
      Other("server_bk_active", M, TImageTarget::PickerActive),
      Other("server_bk_normal", M, TImageTarget::PickerNormal),
      Other("server_new", M, TImageTarget::PickerNew),
      Button("btn_cz_active", M, "LGBtn3", lgsActive),
      Button("btn_cz_down", M, "LGBtn3", lgsDown),
      Button("btn_gw_active", M, "LGBtn1", lgsActive),
      Button("btn_gw_down", M, "LGBtn1", lgsDown),
      Button("btn_lt_active", M, "LGBtn2", lgsActive),
      Button("btn_lt_down", M, "LGBtn2", lgsDown),
      Button("btn_start_active", M, "LGStart", lgsActive),
      Button("btn_start_disable", M, "LGStart", lgsDisable),
      Button("btn_start_down", M, "LGStart", lgsDown),
      Button("btn_zc_active", M, "LGBtn4", lgsActive),
      Button("btn_zc_down", M, "LGBtn4", lgsDown),
      Button("cb_active", M, "btnSelServer", lgsActive, true),
      Button("cb_down", M, "btnSelServer", lgsDown),
      Button("cb_active", S, "btnSelMem", lgsActive),
      Button("cb_down", S, "btnSelMem", lgsDown),
      Button("close_active", M, "LGClose", lgsActive),
      Button("close_down", M, "LGClose", lgsDown),
      Button("min_active", M, "LGmin", lgsActive),
      Button("min_down", M, "LGmin", lgsDown),
  };
  return plan;
}

size_t RunImagePlan(int32_t resoffset, const TImageStepBinder& bind) {
  if (resoffset == 0) return 0;
  int32_t mainCursor = resoffset;
  int32_t secondCursor = resoffset;
  size_t bound = 0;
  for (const TImageStep& step : ImageBindingPlan()) {
    if (step.SaveSecondBefore) secondCursor = mainCursor;
    int32_t& cursor = step.Cursor == TImageCursor::Main ? mainCursor : secondCursor;
    if (!bind(step, cursor)) break;
    ++bound;
  }
  return bound;
}
