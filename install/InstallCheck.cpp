#include "install/InstallCheck.h"

#include <windows.h>
#include <shellapi.h>

#include "common/CommandLine.h"
#include "common/Format.h"
#include "common/Log.h"
#include "common/PathUtils.h"
#include "install/InstallRegistry.h"
#include "install/ShellShortcut.h"
#include "install/logic/InstallLocation.h"
#include "platform/CodePage.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"

TInstallCheckInputs LauncherInstallCheckInputs(const std::string& launcherName,
                                               std::function<bool(std::string& folder)> askPlayer) {
  TInstallCheckInputs inputs;
  inputs.programPath = GetModuleFilePath();
  inputs.launcherName = launcherName;
  inputs.desktopFolder = DesktopFolderText(ReadDesktopValue(), WindowsFolder());
  inputs.readUninstall = ReadUninstallString;
  inputs.writeSecondKey = WriteSecondUninstallString;
  inputs.askPlayer = std::move(askPlayer);
  inputs.startCopy = [](const std::string& copy, const std::string& parameter) {
    const std::u16string file = Cp936ToUtf16(copy), text = Cp936ToUtf16(parameter);
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(file.c_str()),
                                           reinterpret_cast<const wchar_t*>(text.c_str()), nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
  };
  return inputs;
}

namespace {

bool RefreshShortcut(const TInstallCheckInputs& inputs, const std::string& target) {
  const std::string link = ShortcutPath(inputs.desktopFolder, inputs.launcherName);
  if (CreateShellShortcut(target, "", inputs.launcherName, link)) return true;
  DebugOutput(Format("shortcut not created: %s", link.c_str()));
  return false;
}

}  // namespace

TInstallCheckResult RunInstallLocationCheck(const TInstallCheckInputs& inputs) {
  const std::string launcherFolder = ExtractFilePath(inputs.programPath);
  const std::string fileName = ExtractFileName(inputs.programPath);
  TInstallDecision decision = DecideInstallLocation(launcherFolder, inputs.readUninstall);
  if (decision.action == TInstallAction::StayHere) {
    RefreshShortcut(inputs, inputs.programPath);
    return TInstallCheckResult::GoOn;
  }
  if (decision.action == TInstallAction::AskPlayer) {
    std::string folder = DefaultGameFolder(DirectoryExists("D:\\"));
    if (!inputs.askPlayer || !inputs.askPlayer(folder) || folder.empty()) return TInstallCheckResult::Cancelled;
    decision.gameFolder = folder;
  }
  // A folder typed without its final backslash names the folder itself, not
  // its parent plus a longer file name.
  const std::string gameFolder = FolderWithBackslash(decision.gameFolder);
  ForceDirectories(gameFolder);
  if (decision.secondKeyInUse && inputs.writeSecondKey) inputs.writeSecondKey(gameFolder);
  const std::string copy = gameFolder + fileName;
  // Any failed step leaves this launcher running where it is: ending it
  // would leave the player with nothing running at all.
  if (!CopyFileAt(inputs.programPath, copy)) {
    LogError(Format("install copy to %s failed: %s", copy.c_str(), LastFileErrorText().c_str()));
    return TInstallCheckResult::CopyFailed;
  }
  if (!RefreshShortcut(inputs, copy)) {
    LogError(Format("install copy %s: no desktop shortcut", copy.c_str()));
    return TInstallCheckResult::CopyFailed;
  }
  // The copy deletes the file that its argument 1 names; quoted, a path with
  // blanks reaches it whole.
  if (!inputs.startCopy(copy, QuoteArgument(inputs.programPath))) {
    LogError(Format("install copy %s not started", copy.c_str()));
    return TInstallCheckResult::CopyFailed;
  }
  return TInstallCheckResult::HandedOver;
}
