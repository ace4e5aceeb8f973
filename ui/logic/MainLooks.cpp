#include "ui/logic/MainLooks.h"

namespace {

TLookStep Show(const char* control) { return {TLookAction::Show, control, ""}; }
TLookStep Hide(const char* control) { return {TLookAction::Hide, control, ""}; }

}  // namespace

const std::vector<TLookStep>& LookSteps(TLook look) {
  // While updating, the status line and both bars take the place of the
  // login panel and the server choice.
  static const std::vector<TLookStep> updating = {
      Hide("btnSelServer"), Hide("lbLstSelSrv"), Show("LBStatus"), Hide("LGStart"),
      Show("LGPTotal"),     Show("LGCurrent"),   Hide("picLogin"), Hide("LGLabel1"),
  };
  // "正在更新"
  static const std::vector<TLookStep> progress = {
      {TLookAction::SetText, "LBStatus", "\xD5\xFD\xD4\xDA\xB8\xFC\xD0\xC2"},
      Hide("btnSelServer"),
      Show("LBStatus"),
      {TLookAction::Disable, "LGStart", ""},
      Show("LGPTotal"),
      Show("LGCurrent"),
  };
  static const std::vector<TLookStep> login = {
      Show("LGStart"),     Show("lbCurSelSrv"), Show("lbMember"),     Show("btnSelMem"),
      Show("btnSelServer"), Show("lbLstSelSrv"), {TLookAction::Enable, "LGStart", ""},
      Hide("LBStatus"),    Hide("LGPTotal"),    Hide("LGCurrent"),    Hide("lbIngUpdate"),
      Show("picLogin"),    Show("LGLabel1"),    Show(NewsBrowserName),
  };
  switch (look) {
    case TLook::Updating: return updating;
    case TLook::Progress: return progress;
    case TLook::Login: break;
  }
  return login;
}

void ApplyLook(TLook look, TLookTarget& target) {
  for (const TLookStep& step : LookSteps(look)) {
    switch (step.Action) {
      case TLookAction::Show: target.SetVisible(step.Control, true); break;
      case TLookAction::Hide: target.SetVisible(step.Control, false); break;
      case TLookAction::Enable: target.SetEnabled(step.Control, true); break;
      case TLookAction::Disable: target.SetEnabled(step.Control, false); break;
      case TLookAction::SetText: target.SetText(step.Control, step.Text); break;
    }
  }
}
