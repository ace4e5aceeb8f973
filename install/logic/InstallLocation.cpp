#include "install/logic/InstallLocation.h"

#include "common/PathUtils.h"
#include "common/TextCase.h"
#include "platform/File.h"

namespace {

std::string WithBackslash(const std::string& folder) {
  if (folder.empty()) return "\\";
  const size_t last = LastSeparator(folder);
  return last != std::string::npos && last + 1 == folder.size() ? folder : folder + "\\";
}

}  // namespace

bool HasGameEnvironment(const std::string& folder) {
  const std::string base = WithBackslash(folder);
  if (!FileExists(base + GameMarkerLibrary) || !FileExists(base + GameMarkerD3dx)) return false;
  return DirectoryExists(base + "data") || DirectoryExists(base + "data\\ui");
}

std::string GameFolderFromUninstall(const std::string& uninstallString) {
  const std::string folder = ExtractFilePath(uninstallString);
  return !folder.empty() && DirectoryExists(folder) ? folder : std::string();
}

bool SameFolder(const std::string& a, const std::string& b) { return SameText(a, b); }

TInstallDecision DecideInstallLocation(const std::string& launcherFolder,
                                       const std::function<std::string(int)>& readUninstall) {
  TInstallDecision decision;
  if (HasGameEnvironment(launcherFolder)) return decision;
  decision.gameFolder = GameFolderFromUninstall(readUninstall(1));
  if (decision.gameFolder.empty()) {
    decision.secondKeyInUse = true;
    decision.gameFolder = GameFolderFromUninstall(readUninstall(2));
  }
  if (SameFolder(decision.gameFolder, launcherFolder)) {
    decision.action = TInstallAction::StayHere;
    return decision;
  }
  decision.action = decision.gameFolder.empty() ? TInstallAction::AskPlayer : TInstallAction::MoveTo;
  return decision;
}

std::string DefaultGameFolder(bool driveDExists) {
  return std::string(driveDExists ? "D" : "C") + ":\\Quellan\xCE\xA2\xB6\xCB\\";  // "Quellan微端"
}

std::string BrowsedFolderText(const std::string& path) { return path.size() == 3 ? path : path + "\\"; }

std::string DesktopFolderText(const std::string& desktopValue, const std::string& windowsFolder) {
  const std::string folder = desktopValue.empty() ? windowsFolder : desktopValue;
  return folder.size() > 3 ? WithBackslash(folder) : folder;
}

std::string ShortcutPath(const std::string& desktopFolder, const std::string& launcherName) {
  return desktopFolder + launcherName + ".lnk";
}
