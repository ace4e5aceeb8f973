// The link buttons: web pages in the system's browser, the registration
// page in the launcher's own web page window.
#include <windows.h>
#include <shellapi.h>

#include "common/Log.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "ui/MainSkin.h"
#include "ui/logic/MainTexts.h"

void TfrmMainSkin::LGBtn1Click(TLGControl& sender) {
  const TLinkAction action = LinkActionForTag(sender.Tag, LinkSettings);
  switch (action.Kind) {
    case TLinkKind::OpenUrl:
      ShellExecuteA(Handle(), "open", action.Url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      break;
    case TLinkKind::WebPageCopy:
      if (!StartProcess(GetModuleFilePath(), WebPageArguments(action.Url)))
        LogError("web page window could not be started");
      break;
    case TLinkKind::None: break;
  }
}
