#include "update/run/RepairScan.h"

#include <algorithm>

#include "common/PathUtils.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool StartsWith(const std::string& text, const std::string& lead) { return text.compare(0, lead.size(), lead) == 0; }

}  // namespace

bool IsLaunchersOwnFile(const std::string& relative, const std::string& launcherBaseName) {
  const std::string name = Lower(relative);
  const size_t slash = name.rfind('\\');
  const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
  if (leaf.find(".!") != std::string::npos) return true;
  if (slash == std::string::npos)
    return name == "launcher.ini" || name == "updatelog.txt" || StartsWith(name, Lower(launcherBaseName) + ".");
  return StartsWith(name, "data\\launcher\\") || (StartsWith(name, "data\\update") && slash == 4);
}

std::vector<std::string> ExtraFiles(const std::vector<std::string>& onDisk, const std::set<std::string>& named,
                                    const std::string& launcherBaseName) {
  std::vector<std::string> extra;
  for (const std::string& file : onDisk)
    if (!IsLaunchersOwnFile(file, launcherBaseName) && !named.count(WindowsPathKey(file))) extra.push_back(file);
  std::sort(extra.begin(), extra.end());
  return extra;
}
