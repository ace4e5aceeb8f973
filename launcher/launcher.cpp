// Program entry of the launcher. The command-line modes come first, in this
// order: the web page window ("/web:"), the self-update swap (a program named
// <base>.update), the deletion of a file left by a hand-over (argument 1),
// and the single-instance check. Only then is the main window created.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/Log.h"
#include "common/WindowMessages.h"
#include "install/SelfUpdateWin.h"
#include "install/logic/HandOver.h"
#include "launcher/logic/EntryModes.h"
#include "launcher/logic/ThreadReaper.h"
#include "launcher/uBGForm.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "skin/Gdiplus.h"
#include "ui/WebPage.h"

namespace {

// How long the end of the program waits for a cancelled update thread to
// write its log before the process ends without it.
constexpr uint32_t RetiredWaitMs = 500;

// Argument 0 is the program file; the rest come from the wide command line.
std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> arguments{GetModuleFilePath()};
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf16ToCp936(reinterpret_cast<const char16_t*>(wide[i])));
  LocalFree(wide);
  return arguments;
}

// A launcher already running gets UM_ACTIVATE and comes to the front; true
// when there is one (this process then ends without a window).
bool ActivateRunningInstance() {
  const HWND running = FindWindowA(MainWindowClassName, nullptr);
  if (!running) return false;
  PostMessageA(running, UM_ACTIVATE, 0, 0);
  if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
  else SetForegroundWindow(running);
  return true;
}

int RunMessageLoop() {
  MSG message;
  BOOL got;
  while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

int RunLauncher(HINSTANCE instance) {
  TGdiplusSession gdiplus;
  int exitCode = 0;
  {
    // The install-folder dialog TForm1 is made when the install-location
    // check asks the player, and the web page window by the "/web:" mode.
    TfrmMain main(instance);
    main.Show();
    exitCode = RunMessageLoop();
  }
  // A cancelled update thread may still be ending; it gets a moment to write
  // its log. After that the process ends at once, without running the
  // destructors of what the thread might still use.
  if (!WaitForRetired(RetiredWaitMs)) {
    LogError("update thread still ending; the launcher ends without it");
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  }
  return exitCode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  SetThreadLocale(2052);
  const std::string program = GetModuleFilePath();
  const TEntryChoice choice = ChooseEntryMode(CommandLineArguments(), program);
  switch (choice.Mode) {
    case TEntryMode::WebPage:
      // Only the web page window, without the instance check.
      ShowWebPage(choice.WebAddress);
      return 0;
    case TEntryMode::SelfUpdate:
      return RunSelfUpdateSwap(program, WindowsSelfUpdateOperations()) ? 0 : 1;
    case TEntryMode::Launcher:
      break;
  }
  if (!choice.HandOver.empty()) DeleteHandedOverFile(choice.HandOver, program);
  if (ActivateRunningInstance()) return 0;
  return RunLauncher(instance);
}
