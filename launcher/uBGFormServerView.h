// TfrmMain's view for the directory exchange and the server selection: the
// picker's labels, the refresh link and the start button.
#pragma once
#include "launcher/uBGForm.h"
#include "platform/CodePage.h"

class TfrmMain::TServerView : public IDirectoryWindow, public ISelectionView {
public:
  explicit TServerView(TfrmMain& form) : F(form) {}
  void ShowRefreshLabel(bool visible) override {
    F.LGLabel1.SetVisible(visible);
  }
  void SetCurrentServerText(const std::u16string& text) override {
    F.lbCurSelSrv.SetWideText(text);
  }
  void SelectServer(const TServerInfo& record) override { F.FSelection->SelectServer(record); }
  void SetLastServerText(const std::u16string& text) override {
    F.lbLstSelSrv.SetWideText(text);
  }
  void SetMemberText(const std::string& text) override {
    F.lbMember.SetWideText(Cp936ToUtf16(text));
  }
  void EnableStart() override {
    F.LGStart.SetEnabled(true);
  }

private:
  TfrmMain& F;
};

