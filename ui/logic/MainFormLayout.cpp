#include "ui/logic/MainFormLayout.h"

namespace {

constexpr TControlClass Pic = TControlClass::Picture;
constexpr TControlClass Btn = TControlClass::Button;
constexpr TControlClass Lbl = TControlClass::Label;
constexpr TControlClass Bar = TControlClass::Progress;

// Every form font height is a pixel height (negative in the form, stored
// positive here); the controls keep whole points at 96 dpi.
constexpr int LabelFontPixels = 14;
constexpr int BodyFontPixels = 12;

}  // namespace

const std::vector<TControlDefaults>& MainFormControls() {
  // Name, class, bounds, visible, enabled, tag, hand cursor, alignment,
  // caption, wide text, font colour.
  static const std::vector<TControlDefaults> controls = {
      {"picLogin", Pic, {664, 131, 302, 412}, true, true, 0, false, taLeftJustify, "", "", 0},
      {"LGStart", Btn, {680, 429, 266, 86}, true, false, 0, false, taLeftJustify, "", "", 0},
      {"LGClose", Btn, {687, 24, 39, 20}, true, true, 0, false, taLeftJustify, "", "", 0},
      {"LGBtn1", Btn, {96, 48, 60, 20}, true, true, 1, false, taLeftJustify, "", "", 0},
      {"LGBtn2", Btn, {168, 48, 60, 20}, true, true, 2, false, taLeftJustify, "", "", 0},
      {"LGBtn3", Btn, {240, 48, 60, 20}, true, true, 3, false, taLeftJustify, "", "", 0},
      {"LGBtn4", Btn, {312, 48, 60, 20}, true, true, 4, false, taLeftJustify, "", "", 0},
      {"LGmin", Btn, {616, 24, 60, 20}, true, true, 0, false, taLeftJustify, "", "", 0},
      {"LGBtn5", Btn, {384, 48, 60, 20}, false, true, 0, false, taLeftJustify, "", "", 0},
      {"LGBtn6", Btn, {456, 48, 60, 20}, false, true, 0, false, taLeftJustify, "", "", 0},
      // "上次选择的服务器"
      {"lbLstSelSrv", Lbl, {766, 182, 177, 20}, true, true, 0, true, taCenter,
       "\xC9\xCF\xB4\xCE\xD1\xA1\xD4\xF1\xB5\xC4\xB7\xFE\xCE\xF1\xC6\xF7", "", LabelOrange},
      // "推荐"
      {"lbMember", Lbl, {690, 280, 249, 22}, false, true, 0, false, taLeftJustify, "\xCD\xC6\xBC\xF6", "", LabelWhite},
      // "跳过更新"
      {"lbIngUpdate", Lbl, {826, 456, 95, 18}, false, true, 0, true, taLeftJustify, "",
       "\xCC\xF8\xB9\xFD\xB8\xFC\xD0\xC2", LabelOrange},
      {"picSlogan", Pic, {168, 28, 193, 33}, true, true, 0, false, taLeftJustify, "", "", 0},
      {"LGCurrent", Bar, {83, 477, 839, 17}, true, false, 0, false, taLeftJustify, "", "", 0},
      {"LGPTotal", Bar, {83, 501, 839, 17}, true, false, 0, false, taLeftJustify, "", "", 0},
      // "进度说明"
      {"LBStatus", Lbl, {80, 456, 505, 17}, true, false, 0, false, taLeftJustify, "\xBD\xF8\xB6\xC8\xCB\xB5\xC3\xF7", "",
       LabelOrange},
      // "当前选择的服务器"
      {"lbCurSelSrv", Lbl, {690, 366, 249, 22}, false, true, 0, false, taLeftJustify,
       "\xB5\xB1\xC7\xB0\xD1\xA1\xD4\xF1\xB5\xC4\xB7\xFE\xCE\xF1\xC6\xF7", "", LabelWhite},
      {"btnSelServer", Btn, {905, 356, 35, 40}, true, true, 0, false, taLeftJustify, "", "", 0},
      {"btnSelMem", Btn, {905, 269, 35, 40}, false, true, 0, false, taLeftJustify, "", "", 0},
      // "刷新区服列表"
      {"LGLabel1", Lbl, {848, 244, 100, 17}, false, true, 0, true, taLeftJustify, "",
       "\xCB\xA2\xD0\xC2\xC7\xF8\xB7\xFE\xC1\xD0\xB1\xED", LabelOrange},
  };
  return controls;
}

const TControlDefaults* FindMainFormControl(const std::string& name) {
  for (const TControlDefaults& control : MainFormControls())
    if (name == control.Name) return &control;
  return nullptr;
}

TFormFont LabelFont() { return {"\xBA\xDA\xCC\xE5", PointSizeFromPixelHeight(LabelFontPixels)}; }  // "黑体"

TFormFont BodyFont() { return {"\xCB\xCE\xCC\xE5", PointSizeFromPixelHeight(BodyFontPixels)}; }  // "宋体"
