#include "update/run/RepairScan.h"

#include <algorithm>

#include "common/PathUtils.h"
#include "common/TextCase.h"

namespace {

bool StartsWith(const std::string& text, const std::string& lead) { return text.compare(0, lead.size(), lead) == 0; }

}  // namespace

// Compared by their keys: the names are the player's, in any letter case,
// and a double-byte character's trail byte may be "\".
bool IsLaunchersOwnFile(const std::string& relative, const std::string& launcherBaseName) {
  const std::string name = WindowsPathKey(relative);
  const std::string leaf = ExtractFileName(name);
  if (leaf.find(".!") != std::string::npos) return true;
  if (leaf.size() == name.size())
    return name == "LAUNCHER.INI" || name == "UPDATELOG.TXT" || StartsWith(name, UpperCase(launcherBaseName) + ".");
  return StartsWith(name, "DATA\\LAUNCHER\\") || (ExtractFilePath(name) == "DATA\\" && StartsWith(leaf, "UPDATE"));
}

std::vector<std::string> ExtraFiles(const std::vector<std::string>& onDisk, const std::set<std::string>& named,
                                    const std::string& launcherBaseName) {
  std::vector<std::string> extra;
  for (const std::string& file : onDisk)
    if (!IsLaunchersOwnFile(file, launcherBaseName) && !named.count(WindowsPathKey(file))) extra.push_back(file);
  std::sort(extra.begin(), extra.end());
  return extra;
}
