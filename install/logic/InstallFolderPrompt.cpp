#include "install/logic/InstallFolderPrompt.h"

bool PromptInstallFolder(std::string& folder, const TShowInstallDialog& showDialog,
                         const std::function<bool(const std::string&)>& directoryExists,
                         const std::function<bool(const std::string&)>& forceDirectories) {
  std::string edit = folder;
  std::string given;
  bool retry = false;
  while (given.empty() || !directoryExists(given)) {
    if (!showDialog(edit, retry)) return false;
    retry = true;
    given = edit;
    if (!given.empty()) forceDirectories(given);
  }
  folder = given;
  return true;
}
