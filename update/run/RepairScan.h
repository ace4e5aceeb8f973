// What a repair finds in the install folder beside the manifest's files:
// the player's own files, never touched, only listed in the log.
#pragma once
#include <set>
#include <string>
#include <vector>

// Whether `relative` (below the install folder, "\" separated) belongs to
// the launcher or to its runs rather than to the game: launcher.ini,
// UpdateLog.txt, the launcher's own files (its base name with any
// extension), the runs' documents and state in data\ (update*), the
// staging folder data\launcher\, and a transfer's leftovers (".!tmp" and
// the like).
bool IsLaunchersOwnFile(const std::string& relative, const std::string& launcherBaseName);

// The files of `onDisk` that no manifest entry names (`named` holds
// WindowsPathKey of every name an entry takes) and that are not the
// launcher's own; sorted.
std::vector<std::string> ExtraFiles(const std::vector<std::string>& onDisk, const std::set<std::string>& named,
                                    const std::string& launcherBaseName);

// A free name beside `path` for a folder that stands where a file belongs:
// "<path>.aside", then "<path>.aside2", ...; `taken` says whether a name
// is in use.
template <typename Taken>
std::string AsideName(const std::string& path, Taken taken) {
  std::string name = path + ".aside";
  for (int k = 2; taken(name); ++k) name = path + ".aside" + std::to_string(k);
  return name;
}
