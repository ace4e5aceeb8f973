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

void RefreshShortcut(const TInstallCheckInputs& inputs, const std::string& target) {
  const std::string link = ShortcutPath(inputs.desktopFolder, inputs.launcherName);
  if (!CreateShellShortcut(target, "", inputs.launcherName, link))
    DebugOutput(Format("shortcut not created: %s", link.c_str()));
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
  const std::string gameFolder = decision.gameFolder;
  ForceDirectories(gameFolder);
  if (decision.secondKeyInUse && inputs.writeSecondKey) inputs.writeSecondKey(gameFolder);
  const std::string copy = gameFolder + fileName;
  // A copy that fails is logged; the copy already there (if any) is started.
  if (!CopyFileAt(inputs.programPath, copy)) LogError(Format("install copy to %s failed", copy.c_str()));
  RefreshShortcut(inputs, copy);
  // The copy deletes the file that its argument 1 names; quoted, a path with
  // blanks reaches it whole.
  if (!inputs.startCopy(copy, QuoteArgument(inputs.programPath))) LogError(Format("install copy %s not started", copy.c_str()));
  return TInstallCheckResult::HandedOver;
}
