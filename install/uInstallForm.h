// Unit uInstallForm: the install-folder dialog TForm1, a stay-on-top dialog
// frame of 313 x 122 client pixels with the folder's edit box Edit1, the
// folder browser button Button1 ("...") and Button2 ("安装").
#pragma once
#include <windows.h>

#include <string>

#include "platform/win32/Window.h"

class TForm1 {
public:
  // Creates the hidden dialog, centred on the screen, owned by `owner`.
  // Throws std::runtime_error when the window cannot be created.
  explicit TForm1(HWND owner, HINSTANCE instance = GetModuleHandleA(nullptr));
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Shows the dialog and runs its messages until it closes, the owner
  // disabled meanwhile; 1 (OK) after Button2, 2 otherwise.
  int ShowModal();
  void SetCaption(const std::string& text);  // code page 936
  std::string Caption() const;
  void SetEditText(const std::string& text);
  std::string EditText() const;
  HWND Handle() const { return FWindow.Get(); }
  HWND Edit1() const { return FEdit; }
  HWND Button1() const { return FBrowse; }
  HWND Button2() const { return FInstall; }

  // The folder browser: a picked folder replaces Edit1's text.
  void Button1Click();
  // Closes the dialog with the result OK.
  void Button2Click();

private:
  friend LRESULT CALLBACK InstallFormWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  void CloseWith(int result);

  HWND FOwner;
  TWindowHandle FWindow;
  HWND FEdit = nullptr;
  HWND FBrowse = nullptr;
  HWND FInstall = nullptr;
  HFONT FFont = nullptr;
  int FModalResult = 0;
  bool FShowing = false;
};

// The dialog's questions (PromptInstallFolder) with a TForm1 owned by
// `owner`: true with the existing folder the player gave.
bool AskInstallFolderDialog(HWND owner, std::string& folder);
