// Program entry of the launcher. The command-line modes come first, in this
// order: the web page window ("/web:"), the self-update swap (a program named
// <base>.update), the deletion of a file left by a hand-over (argument 1),
// and the single-instance check. Only then is the main window created.
#include <windows.h>
#include <shellapi.h>

#include <exception>
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

// After this long the end of the program logs that a cancelled update
// thread is still ending, and goes on waiting for it.
constexpr uint32_t RetiredWaitMs = 5000;

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

// A launcher already running gets UM_ACTIVATE and comes to the front, and
// UM_REPAIR when this start asks for a repair; true when there is one (this
// process then ends without a window).
bool ActivateRunningInstance(bool repair) {
  const HWND running = FindWindowA(MainWindowClassName, nullptr);
  if (!running) return false;
  PostMessageA(running, UM_ACTIVATE, 0, 0);
  if (repair) PostMessageA(running, UM_REPAIR, 0, 0);
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

int RunLauncher(HINSTANCE instance, bool repair) {
  TGdiplusSession gdiplus;
  int exitCode = 0;
  {
    // The install-folder dialog TForm1 is made when the install-location
    // check asks the player, and the web page window by the "/web:" mode.
    TfrmMain main(instance);
    // "/repair": a repair follows the update runs of this start.
    if (repair) main.RequestRepair();
    main.Show();
    exitCode = RunMessageLoop();
  }
  // The window is gone. A cancelled update thread may still be ending: its
  // blocked request was aborted with the cancel, so it ends soon, writes its
  // log and keeps the state of its downloads; the process ends after it.
  if (!WaitForRetired(RetiredWaitMs)) {
    LogError("update thread still ending; the launcher waits for it");
    WaitForRetired(UINT32_MAX);
  }
  return exitCode;
}

// A window that cannot be made (or anything else that escapes the modes
// below) is logged and shown in the standard error box; the program then
// ends with 1 instead of being aborted by the runtime.
int ReportFailedStart(const char* what) {
  LogError(std::string("launcher not started: ") + what);
  MessageBoxA(nullptr, what, ApplicationTitle, MB_OK | MB_ICONSTOP);
  return 1;
}

int RunEntryMode(HINSTANCE instance) {
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
  if (ActivateRunningInstance(choice.Repair)) return 0;
  return RunLauncher(instance, choice.Repair);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  SetThreadLocale(2052);
  try {
    return RunEntryMode(instance);
  } catch (const std::exception& error) {
    return ReportFailedStart(error.what());
  } catch (...) {
    return ReportFailedStart("unknown error");
  }
}
