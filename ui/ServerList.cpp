// The pop-up's window, its list box and how a showing ends.
#include "ui/ServerList.h"

#include <cstring>
#include <utility>

#include "common/Log.h"
#include "platform/win32/Window.h"

#include "skin/logic/SkinGeometry.h"

LRESULT CALLBACK ServerListWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DispatchToObject("server pop-up", window, message, wParam, lParam, &TfrmServerList::WindowProc);
}

LRESULT CALLBACK ServerListListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
  return DispatchToObject("server pop-up list", list, message, wParam, lParam, &TfrmServerList::ListProc);
}

namespace {

// "宋体", the form's font: 11 points, GB2312.
constexpr char FormFontName[] = "\xCB\xCE\xCC\xE5";
constexpr int FormFontPoints = 11;
constexpr int ListId = 1;
constexpr UINT_PTR ServerListTimerId = 1;

HFONT CreateFormFont() {
  LOGFONTA logFont;
  std::memset(&logFont, 0, sizeof logFont);
  logFont.lfHeight = LogFontHeight(FormFontPoints);
  logFont.lfCharSet = GB2312_CHARSET;
  std::strncpy(logFont.lfFaceName, FormFontName, LF_FACESIZE - 1);
  return CreateFontIndirectA(&logFont);
}

}  // namespace

TfrmServerList::TfrmServerList(HWND owner, TServerListImages images, TCloseHandler onClose, HINSTANCE instance)
    : FOwner(owner), FInstance(instance), FImages(images), FOnClose(std::move(onClose)) {
  // The frame is painted and the list covers the rest: nothing to erase.
  RegisterWindowClass(instance, {ServerListClassName, ServerListWindowProc, CS_DROPSHADOW});
  FFont = CreateFormFont();
}

TfrmServerList::~TfrmServerList() {
  // No report to a handler whose owner is going away.
  FOnClose = nullptr;
  DestroyWindows();
  if (FFont) DeleteObject(FFont);
}

bool TfrmServerList::CreateWindows() {
  // The popup style alone: no caption, no border, no system menu.
  FWindow.Reset(CreateWindowExA(0, ServerListClassName, "", WS_POPUP, 0, 0, PopupWidth, PopupHeight(0), FOwner,
                                nullptr, FInstance, nullptr));
  if (!FWindow) return false;
  FList = CreateWindowExA(0, "LISTBOX", "",
                          WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                          1, 1, PopupWidth - 2, 0, FWindow.Get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(ListId)),
                          FInstance, nullptr);
  if (!FList) {
    DestroyWindows();
    return false;
  }
  if (FFont) SendMessageA(FList, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
  SendMessageA(FList, LB_SETITEMHEIGHT, 0, PopupItemHeight);
  // The list's own procedure sees the keys and the pointer first (the
  // form's key preview), then the list box's default handling.
  SetWindowLongPtrA(FList, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  FListDefault = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(FList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ServerListListProc)));
  FWindow.Attach(this);
  return true;
}

void TfrmServerList::DestroyWindows() {
  FShown = false;
  if (!FWindow) return;
  // The list box gets its own procedure back, so its destruction frees
  // what it holds; the pop-up forgets the object before it goes.
  if (FList && FListDefault) SetWindowLongPtrA(FList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FListDefault));
  KillTimer(FWindow.Get(), ServerListTimerId);
  FList = nullptr;
  FListDefault = nullptr;
  FWindow.Reset();
}

bool TfrmServerList::Show(TServerPopup popup, POINT at, int current) {
  if (FShown) Close(false);
  FPopup = std::move(popup);
  if (!CreateWindows()) {
    LogError("TfrmServerList: CreateWindowEx failed");
    return false;
  }
  for (size_t i = 0; i < FPopup.Items().size(); ++i) SendMessageA(FList, LB_ADDSTRING, 0, static_cast<LPARAM>(i));
  const int count = static_cast<int>(FPopup.Items().size());
  const int highlighted = current >= 0 && current < count ? current : -1;
  FPopup.Highlight(highlighted);
  SendMessageA(FList, LB_SETCURSEL, static_cast<WPARAM>(highlighted), 0);

  const int height = FPopup.Height();
  SetWindowPos(FWindow.Get(), HWND_TOP, at.x, at.y, PopupWidth, height, SWP_NOACTIVATE);
  // The list fills the pop-up inside its one-pixel frame.
  MoveWindow(FList, 1, 1, PopupWidth - 2, height > 2 ? height - 2 : 0, FALSE);
  FShown = true;
  // Shown first, then brought to the foreground: a window that is active
  // when it appears becomes a managed X window under Wine, whose
  // destruction then waits seconds for a window manager.
  ShowWindow(FWindow.Get(), SW_SHOWNA);
  SetForegroundWindow(FWindow.Get());
  SetFocus(FList);
  SetTimer(FWindow.Get(), ServerListTimerId, ServerListTimerInterval, nullptr);
  return true;
}

void TfrmServerList::Cancel() {
  if (FShown) Close(false);
}

bool TfrmServerList::Visible() const { return FShown && FWindow.Get() && IsWindowVisible(FWindow.Get()); }

void TfrmServerList::Close(bool commit) {
  if (!FShown) return;
  const int highlighted = FPopup.Highlighted();
  // Destroyed, not hidden: a closed pop-up holds nothing, and its focus
  // loss during the destruction finds it no longer shown.
  DestroyWindows();
  std::optional<int> committed;
  if (commit && highlighted >= 0) committed = highlighted;
  if (FOnClose) FOnClose(committed);
}

LRESULT TfrmServerList::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintFrame();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      measure->itemHeight = PopupItemHeight;
      return TRUE;
    }
    case WM_DRAWITEM:
      DrawListItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMMAND:
      // Arrow keys move the list's selection: the highlight follows it.
      if (LOWORD(wParam) == ListId && HIWORD(wParam) == LBN_SELCHANGE) {
        FPopup.Highlight(static_cast<int>(SendMessageA(FList, LB_GETCURSEL, 0, 0)));
      }
      return 0;
    case WM_TIMER:
      // Timer1: another window in the foreground ends the showing.
      if (wParam == ServerListTimerId && FShown && GetForegroundWindow() != FWindow.Get()) Close(false);
      return 0;
    case WM_ACTIVATE:
      // Activated by a click on the frame: the keys still go to the list.
      if (LOWORD(wParam) != WA_INACTIVE && FShown) SetFocus(FList);
      return 0;
    default:
      return DefWindowProcA(FWindow.Get(), message, wParam, lParam);
  }
}

LRESULT TfrmServerList::ListProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOUSEMOVE: {
      const int y = static_cast<short>(HIWORD(lParam));
      const int top = static_cast<int>(SendMessageA(FList, LB_GETTOPINDEX, 0, 0));
      FPopup.PointerAt(y, top);
      const int highlighted = FPopup.Highlighted();
      if (SendMessageA(FList, LB_GETCURSEL, 0, 0) != highlighted)
        SendMessageA(FList, LB_SETCURSEL, static_cast<WPARAM>(highlighted), 0);
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      // Any button applies the item under the pointer at once.
      Close(true);
      return 0;
    case WM_KEYDOWN:
      if (PopupKeyAction(static_cast<int>(wParam)) == TPopupKeyAction::Commit) {
        Close(true);
        return 0;
      }
      break;
    case WM_CHAR:
      // Enter and Escape were handled as keys; the list would beep for them.
      if (wParam == VK_RETURN || wParam == VK_ESCAPE) return 0;
      break;
    case WM_KILLFOCUS:
      if (FShown && reinterpret_cast<HWND>(wParam) != FWindow.Get()) {
        const LRESULT result = CallWindowProcA(FListDefault, FList, message, wParam, lParam);
        Close(false);
        return result;
      }
      break;
    default:
      break;
  }
  return CallWindowProcA(FListDefault, FList, message, wParam, lParam);
}
