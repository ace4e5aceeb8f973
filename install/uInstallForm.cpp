#include "install/uInstallForm.h"

#include <shlobj.h>

#include <stdexcept>

#include "install/logic/InstallFolderPrompt.h"
#include "install/logic/InstallLocation.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/win32/ComObjects.h"
#include "platform/win32/Window.h"

LRESULT CALLBACK InstallFormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

constexpr const char* InstallFormClassName = "TForm1";
constexpr int ClientWidth = 313;
constexpr int ClientHeight = 122;
constexpr int ModalOk = 1;
constexpr int ModalCancel = 2;
enum : int { Button1Id = 101, Button2Id = 102, Edit1Id = 103 };
constexpr DWORD FormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
constexpr DWORD FormExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;

std::wstring Wide(const std::string& text) {
  const std::u16string wide = Cp936ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return Utf16ToCp936(std::u16string(text.begin(), text.end()));
}

// The item list that the folder browser returns, freed with the task allocator.
class TItemIdList {
public:
  explicit TItemIdList(PIDLIST_ABSOLUTE list) : FList(list) {}
  ~TItemIdList() {
    if (FList) CoTaskMemFree(FList);
  }
  TItemIdList(const TItemIdList&) = delete;
  TItemIdList& operator=(const TItemIdList&) = delete;
  PIDLIST_ABSOLUTE Get() const { return FList; }

private:
  PIDLIST_ABSOLUTE FList;
};

void RegisterFormClass(HINSTANCE instance) {
  TWindowClass windowClass{InstallFormClassName, InstallFormWindowProc};
  windowClass.Background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.Unicode = true;
  RegisterWindowClass(instance, windowClass);
}

}  // namespace

LRESULT CALLBACK InstallFormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return CatchAll("install folder dialog", LRESULT(0), [&] {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr || !form->FWindow) return DefWindowProcW(window, message, wParam, lParam);
    return form->WindowProc(message, wParam, lParam);
  });
}

TForm1::TForm1(HWND owner, HINSTANCE instance) : FOwner(owner) {
  RegisterFormClass(instance);
  RECT frame{0, 0, ClientWidth, ClientHeight};
  AdjustWindowRectEx(&frame, FormStyle, FALSE, FormExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  const std::wstring className = Wide(InstallFormClassName);
  const std::wstring caption = Wide(InstallDialogCaption);
  FWindow.Reset(CreateWindowExW(FormExStyle, className.c_str(), caption.c_str(), FormStyle, left, top, width, height,
                                owner, nullptr, instance, this));
  if (!FWindow) throw std::runtime_error("install folder dialog not created");
  // From here a throw destroys the window, detached, on the way out.
  FEdit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 32, 24,
                          209, 21, Handle(), reinterpret_cast<HMENU>(Edit1Id), instance, nullptr);
  FBrowse = CreateWindowExW(0, L"BUTTON", L"...", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 248, 24, 49, 25,
                            Handle(), reinterpret_cast<HMENU>(Button1Id), instance, nullptr);
  FInstall = CreateWindowExW(0, L"BUTTON", Wide(InstallButtonCaption).c_str(),
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 104, 64, 97, 41, Handle(),
                             reinterpret_cast<HMENU>(Button2Id), instance, nullptr);
  const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  for (HWND control : {FEdit, FBrowse, FInstall}) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void TForm1::SetCaption(const std::string& text) { SetWindowTextW(Handle(), Wide(text).c_str()); }
std::string TForm1::Caption() const { return WindowText(Handle()); }
void TForm1::SetEditText(const std::string& text) { SetWindowTextW(FEdit, Wide(text).c_str()); }
std::string TForm1::EditText() const { return WindowText(FEdit); }

int TForm1::ShowModal() {
  FModalResult = 0;
  FShowing = true;
  const bool ownerWasEnabled = FOwner && IsWindowEnabled(FOwner);
  if (ownerWasEnabled) EnableWindow(FOwner, FALSE);
  ShowWindow(Handle(), SW_SHOW);
  SetForegroundWindow(Handle());
  SetFocus(FEdit);
  MSG message;
  while (FModalResult == 0) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // The application is ending: the quit goes on to the main loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      FModalResult = ModalCancel;
      break;
    }
    if (got == -1) {
      FModalResult = ModalCancel;
      break;
    }
    if (IsDialogMessageW(Handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (ownerWasEnabled) EnableWindow(FOwner, TRUE);
  ShowWindow(Handle(), SW_HIDE);
  FShowing = false;
  return FModalResult;
}

void TForm1::CloseWith(int result) {
  if (FShowing) FModalResult = result;
}

void TForm1::Button2Click() { CloseWith(ModalOk); }

void TForm1::Button1Click() {
  // The new dialog style needs OLE on this thread.
  TOleSession ole;
  const std::wstring title = Wide(FolderBrowserTitle);
  BROWSEINFOW browse{};
  browse.hwndOwner = Handle();
  browse.lpszTitle = title.c_str();
  browse.ulFlags = FolderBrowserFlags;
  TItemIdList picked(SHBrowseForFolderW(&browse));
  if (!picked.Get()) return;
  wchar_t path[MAX_PATH] = {};
  if (!SHGetPathFromIDListW(picked.Get(), path)) return;
  const std::wstring wide(path);
  SetEditText(BrowsedFolderText(Utf16ToCp936(std::u16string(wide.begin(), wide.end()))));
}

LRESULT TForm1::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == Button1Id) Button1Click();
      else if (LOWORD(wParam) == Button2Id || LOWORD(wParam) == IDOK) Button2Click();
      else if (LOWORD(wParam) == IDCANCEL) CloseWith(ModalCancel);
      return 0;
    case WM_CLOSE:
      // The close box ends the modal run without OK; the window stays for
      // the next showing.
      CloseWith(ModalCancel);
      return 0;
    case WM_NCDESTROY: {
      const HWND handle = FWindow.Get();
      FWindow.Release();
      return DefWindowProcW(handle, message, wParam, lParam);
    }
  }
  return DefWindowProcW(FWindow.Get(), message, wParam, lParam);
}

bool AskInstallFolderDialog(HWND owner, std::string& folder) {
  TForm1 form(owner);
  return PromptInstallFolder(
      folder,
      [&form](std::string& edit, bool retry) {
        if (!retry) form.SetEditText(edit);
        if (form.ShowModal() != ModalOk) return false;
        // Shown again only when the folder given does not exist.
        form.SetCaption(InstallDialogRetryCaption);
        edit = form.EditText();
        return true;
      },
      DirectoryExists, ForceDirectories);
}
