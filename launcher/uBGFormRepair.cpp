// The repair of the game files as the player asks for it: an entry of the
// window's system menu (the taskbar button's menu, Alt+Space), greyed while
// a run goes, and the message a second start with "/repair" posts.
#include <windows.h>

#include "common/Log.h"
#include "launcher/uBGForm.h"
#include "platform/CodePage.h"

namespace {

const char* const RepairEntryText =
    "\xD0\xA3\xD1\xE9\xB2\xA2\xD0\xDE\xB8\xB4\xD3\xCE\xCF\xB7\xCE\xC4\xBC\xFE";  // "校验并修复游戏文件"

// The window's own system menu; the system destroys it with the window.
HMENU SystemMenuOf(HWND window) { return GetSystemMenu(window, FALSE); }

}  // namespace

void TfrmMain::AddRepairEntry() {
  const HMENU menu = SystemMenuOf(Handle());
  if (!menu) {
    LogError("repair: the window has no system menu");
    return;
  }
  const std::u16string text = Cp936ToUtf16(RepairEntryText);
  if (!AppendMenuW(menu, MF_SEPARATOR, 0, nullptr) ||
      !AppendMenuW(menu, MF_STRING, RepairMenuCommand, reinterpret_cast<const wchar_t*>(text.c_str())))
    LogError("repair: the system menu entry cannot be added");
}

void TfrmMain::EnableRepairEntry(bool enabled) {
  const HMENU menu = SystemMenuOf(Handle());
  if (menu) EnableMenuItem(menu, RepairMenuCommand, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void TfrmMain::RequestRepair() {
  if (!FUpdate) return;
  LogError("repair asked for");
  FUpdate->RequestRepair();
}

bool TfrmMain::HandleRepairMessage(UINT message, WPARAM wParam) {
  if (message == UM_REPAIR) {
    RequestRepair();
    return true;
  }
  if (message != WM_SYSCOMMAND || (wParam & 0xFFF0) != RepairMenuCommand) return false;
  // A greyed entry cannot be chosen; the command sent by another program
  // while a run goes waits for the runs to end.
  RequestRepair();
  return true;
}
