#include "ui/logic/MainLooks.h"

#include <gtest/gtest.h>

#include <map>

#include "package/SkinLayout.h"
#include "ui/logic/ImagePlan.h"
#include "ui/logic/MainFormLayout.h"

namespace {

struct TModelState {
  bool Visible = false;
  bool Enabled = true;
  std::string Text;
};

// The controls' state as the form starts, changed only by looks.
class TFormModel : public TLookTarget {
public:
  TFormModel() {
    for (const TControlDefaults& control : MainFormControls())
      States[control.Name] = {control.Visible, control.Enabled, control.WideText};
    States[NewsBrowserName] = {};
  }
  void SetVisible(const std::string& control, bool visible) override { At(control).Visible = visible; }
  void SetEnabled(const std::string& control, bool enabled) override { At(control).Enabled = enabled; }
  void SetText(const std::string& control, const std::string& text) override { At(control).Text = text; }
  // A step that names no control of the form is a fault of the tables.
  TModelState& At(const std::string& control) {
    EXPECT_TRUE(States.count(control)) << control;
    return States[control];
  }
  std::map<std::string, TModelState> States;
};

}  // namespace

TEST(MainLooks, UpdatingThenProgressShowsOnlyTheStatusAndBarsOverTheStartArea) {
  TFormModel form;
  ApplyLook(TLook::Updating, form);
  for (const char* hidden : {"btnSelServer", "lbLstSelSrv", "LGStart", "picLogin", "LGLabel1"})
    EXPECT_FALSE(form.At(hidden).Visible) << hidden;
  for (const char* shown : {"LBStatus", "LGPTotal", "LGCurrent"}) EXPECT_TRUE(form.At(shown).Visible) << shown;

  ApplyLook(TLook::Progress, form);
  EXPECT_EQ(form.At("LBStatus").Text, "\xD5\xFD\xD4\xDA\xB8\xFC\xD0\xC2");  // "正在更新"
  // The progress look disables the start button but does not bring it back.
  EXPECT_FALSE(form.At("LGStart").Visible);
  EXPECT_FALSE(form.At("LGStart").Enabled);
  EXPECT_FALSE(form.At(NewsBrowserName).Visible);
}

TEST(MainLooks, LoginAfterAnUpdateEnablesStartAndHidesTheProgress) {
  TFormModel form;
  ApplyLook(TLook::Updating, form);
  ApplyLook(TLook::Progress, form);
  form.SetVisible("lbIngUpdate", true);  // the skip link was offered
  ApplyLook(TLook::Login, form);
  EXPECT_TRUE(form.At("LGStart").Visible);
  EXPECT_TRUE(form.At("LGStart").Enabled);
  for (const char* shown :
       {"lbCurSelSrv", "lbMember", "btnSelMem", "btnSelServer", "lbLstSelSrv", "picLogin", "LGLabel1", NewsBrowserName})
    EXPECT_TRUE(form.At(shown).Visible) << shown;
  for (const char* hidden : {"LBStatus", "LGPTotal", "LGCurrent", "lbIngUpdate"})
    EXPECT_FALSE(form.At(hidden).Visible) << hidden;
}

// The looks, the positions records and the image plan name controls by text;
// each name must be a control of the form (or the news browser).
TEST(MainLooks, EveryTableNamesControlsOfTheForm) {
  auto known = [](const std::string& name) { return name == NewsBrowserName || FindMainFormControl(name); };
  for (TLook look : {TLook::Updating, TLook::Progress, TLook::Login})
    for (const TLookStep& step : LookSteps(look)) EXPECT_TRUE(known(step.Control)) << step.Control;
  for (const TPositionRecord& record : PositionRecords()) EXPECT_TRUE(known(record.control)) << record.control;
  for (const TImageStep& step : ImageBindingPlan()) {
    if (*step.Control) {
      ASSERT_TRUE(FindMainFormControl(step.Control)) << step.Control;
    }
    if (step.Target == TImageTarget::ButtonState) {
      EXPECT_EQ(FindMainFormControl(step.Control)->Class, TControlClass::Button) << step.Control;
    }
  }
  EXPECT_EQ(MainFormControls().size(), 21u);
}
