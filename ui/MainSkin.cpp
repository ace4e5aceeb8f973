// The main window's controls, looks, progress display and events.
#include "ui/MainSkin.h"

#include <array>

#include "platform/CodePage.h"
#include "ui/logic/MainFormLayout.h"
#include "ui/logic/MainLooks.h"
#include "ui/logic/MainTexts.h"

TfrmMainSkin::TfrmMainSkin(HINSTANCE instance)
    : FWindow(instance, FormClientWidth, FormClientHeight),
      picLogin(Handle()), LGStart(Handle()), LGClose(Handle()), LGBtn1(Handle()), LGBtn2(Handle()),
      LGBtn3(Handle()), LGBtn4(Handle()), LGmin(Handle()), LGBtn5(Handle()), LGBtn6(Handle()),
      lbLstSelSrv(Handle()), lbMember(Handle()), lbIngUpdate(Handle()), picSlogan(Handle()), LGCurrent(Handle()),
      LGPTotal(Handle()), LBStatus(Handle()), lbCurSelSrv(Handle()), btnSelServer(Handle()), btnSelMem(Handle()),
      LGLabel1(Handle()), FClientWidth(FormClientWidth), FClientHeight(FormClientHeight) {
  SetupControls();
  BindEvents();
  SetWindowLongPtrA(Handle(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  for (TWindowTimer* timer : {&RunTimer, &UpdateTimer, &PaintTimer, &Timer1}) timer->Attach(Handle());
}

TfrmMainSkin::~TfrmMainSkin() = default;

std::array<TLGControl*, 21> TfrmMainSkin::ComponentOrder() {
  return {&picLogin, &LGStart,   &LGClose,     &LGBtn1,   &LGBtn2,    &LGBtn3,   &LGBtn4,
          &LGmin,    &LGBtn5,    &LGBtn6,      &lbLstSelSrv, &lbMember, &lbIngUpdate, &picSlogan,
          &LGCurrent, &LGPTotal, &LBStatus,    &lbCurSelSrv, &btnSelServer, &btnSelMem, &LGLabel1};
}

void TfrmMainSkin::SetupControls() {
  const std::array<TLGControl*, 21> controls = ComponentOrder();
  const std::vector<TControlDefaults>& form = MainFormControls();
  for (size_t i = 0; i < controls.size() && i < form.size(); ++i) {
    TLGControl& control = *controls[i];
    const TControlDefaults& defaults = form[i];
    control.Name = defaults.Name;
    control.SetBounds(defaults.Bounds.X, defaults.Bounds.Y, defaults.Bounds.Width, defaults.Bounds.Height);
    control.Visible = defaults.Visible;
    control.Enabled = defaults.Enabled;
    control.Tag = defaults.Tag;
    control.HandCursor = defaults.HandCursor;
    control.Alignment = defaults.Alignment;
    control.Caption = defaults.Caption;
    const TFormFont font = defaults.Class == TControlClass::Label ? LabelFont() : BodyFont();
    control.Font.Name = font.Name;
    control.Font.Size = font.Size;
    if (defaults.Class == TControlClass::Label) control.Font.Color = defaults.FontColor;
    SkinRoot.Add(control);
  }
  for (TLGLabel* label : {&lbIngUpdate, &LGLabel1}) {
    label->SetWideText(Cp936ToUtf16(FindMainFormControl(label->Name)->WideText));
  }
  // Both bars start half full; the first progress messages set them.
  for (TLGProgress2* bar : {&LGCurrent, &LGPTotal}) {
    bar->SetMax(100);
    bar->SetPosition(50);
    bar->XOffset = 0;
  }
}

void TfrmMainSkin::BindEvents() {
  auto formMouseDown = [this](TLGControl&, TMouseButton button, int x, int y) { FormMouseDown(button, x, y); };
  picLogin.OnMouseDown = formMouseDown;
  picSlogan.OnMouseDown = formMouseDown;
  LGStart.OnClick = [this](TLGControl&) { LGStartClick(); };
  LGClose.OnClick = [this](TLGControl&) { LGCloseClick(); };
  LGmin.OnClick = [this](TLGControl&) { LGminClick(); };
  for (TLGButton* link : {&LGBtn1, &LGBtn2, &LGBtn3, &LGBtn4, &LGBtn5, &LGBtn6})
    link->OnClick = [this](TLGControl& sender) { LGBtn1Click(sender); };
  lbLstSelSrv.OnClick = [this](TLGControl&) { lbLstSelSrvClick(); };
  lbMember.OnClick = [this](TLGControl&) { btnSelMemClick(); };
  lbIngUpdate.OnClick = [this](TLGControl&) { lbIngUpdateClick(); };
  lbCurSelSrv.OnClick = [this](TLGControl&) { btnSelServerClick(); };
  btnSelServer.OnClick = [this](TLGControl&) { btnSelServerClick(); };
  btnSelMem.OnClick = [this](TLGControl&) { btnSelMemClick(); };
  LGLabel1.OnClick = [this](TLGControl&) { LGLabel1Click(); };
}

TLGControl* TfrmMainSkin::ControlByName(const std::string& name) {
  for (TLGControl* control : SkinRoot.Controls())
    if (control->Name == name) return control;
  return nullptr;
}

void TfrmMainSkin::Show(int showCommand) {
  ShowWindow(Handle(), showCommand);
  UpdateWindow(Handle());
}

void TfrmMainSkin::SetClientSize(int width, int height) {
  FClientWidth = width;
  FClientHeight = height;
  if (!Handle()) return;
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(Handle(), GWL_STYLE));
  RECT frame = {0, 0, width, height};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TfrmMainSkin::Minimized() const { return Handle() && IsIconic(Handle()); }

// Looks ---------------------------------------------------------------------

namespace {

// The looks act on the window's controls by name; "wb" is the news browser.
class TWindowLookTarget : public TLookTarget {
public:
  explicit TWindowLookTarget(TfrmMainSkin& form) : FForm(form) {}
  void SetVisible(const std::string& name, bool visible) override {
    if (name == NewsBrowserName) {
      FForm.NewsBrowserVisible = visible;
    } else if (TLGControl* control = FForm.ControlByName(name)) {
      control->Visible = visible;
    }
  }
  void SetEnabled(const std::string& name, bool enabled) override {
    if (TLGControl* control = FForm.ControlByName(name)) control->Enabled = enabled;
  }
  void SetText(const std::string& name, const std::string& text) override {
    if (auto* label = dynamic_cast<TLGLabel*>(FForm.ControlByName(name))) label->SetWideText(Cp936ToUtf16(text));
  }

private:
  TfrmMainSkin& FForm;
};

}  // namespace

void TfrmMainSkin::ApplyLookSteps(TLook look) {
  TWindowLookTarget target(*this);
  ApplyLook(look, target);
  // Visibility is plain state; the window shows it with its next composition.
  RequestComposition();
}

void TfrmMainSkin::ApplyUpdatingLook() { ApplyLookSteps(TLook::Updating); }
void TfrmMainSkin::ApplyProgressLook() { ApplyLookSteps(TLook::Progress); }
void TfrmMainSkin::ApplyLoginLook() { ApplyLookSteps(TLook::Login); }

void TfrmMainSkin::ShowSkipLink() {
  lbIngUpdate.Visible = true;
  RequestComposition();
}

void TfrmMainSkin::ShowStatusLine() {
  LBStatus.Visible = true;
  RequestComposition();
}

// Progress display ------------------------------------------------------------

void TfrmMainSkin::UpdateTimerTimer() {
  if (Hidden || Minimized()) return;
  LBStatus.SetWideText(Cp936ToUtf16(ProgressStatusLine(StatusText, SpeedText)));
  if (!LGPTotal.Visible) return;
  // Maximum before position: a position above the old maximum would be refused.
  LGPTotal.SetMax(TotalMax);
  LGPTotal.SetPosition(TotalPos);
  LGCurrent.SetMax(CurMax);
  LGCurrent.SetPosition(CurPos);
}

// Events ------------------------------------------------------------------------

void TfrmMainSkin::FormMouseDown(TMouseButton button, int, int) {
  if (button == mbLeft) BeginWindowDrag();
}

void TfrmMainSkin::BeginWindowDrag() {
  ReleaseCapture();
  // SC_MOVE + 2 (HTCAPTION): the system moves the window with the mouse.
  SendMessageA(Handle(), WM_SYSCOMMAND, 0xF012, 0);
}

void TfrmMainSkin::LGminClick() { PostMessageA(Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0); }

void TfrmMainSkin::LGCloseClick() {
  // Posted: the click handler returns into the mouse routing before the
  // window goes.
  PostMessageA(Handle(), WM_CLOSE, 0, 0);
}

void TfrmMainSkin::lbIngUpdateClick() {
  UpdateSkipped();
  ApplyLoginLook();
  RefreshServerList();
}
