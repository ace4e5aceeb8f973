// TfrmMain's view for the directory exchange and the server selection: the
// picker's labels, the refresh link and the start button.
#pragma once
#include "launcher/uBGForm.h"
#include "platform/CodePage.h"

class TfrmMain::TServerView : public IDirectoryWindow, public ISelectionView {
public:
  explicit TServerView(TfrmMain& form) : F(form) {}
  void ShowRefreshLabel(bool visible) override {
    F.LGLabel1.Visible = visible;
    F.LGLabel1.Repaint();
  }
  void SetCurrentServerText(const std::u16string& text) override {
    F.lbCurSelSrv.SetWideText(text);
    F.lbCurSelSrv.Repaint();
  }
  void SelectServer(const TServerInfo& record) override { F.FSelection->SelectServer(record); }
  void SetLastServerText(const std::u16string& text) override {
    F.lbLstSelSrv.SetWideText(text);
    F.lbLstSelSrv.Repaint();
  }
  void SetMemberText(const std::string& text) override {
    F.lbMember.SetWideText(Cp936ToUtf16(text));
    F.lbMember.Repaint();
  }
  void EnableStart() override {
    F.LGStart.Enabled = true;
    F.LGStart.Repaint();
  }

private:
  TfrmMain& F;
};

