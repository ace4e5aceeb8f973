// The process list comes from /proc: the executable of each process is the
// target of /proc/<pid>/exe, or the first word of its command line when that
// link cannot be read. Ending a process is SIGKILL, the nearest thing to
// terminating it with exit code 0.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/ProcessKill.h"

namespace {

std::string ExecutableOf(const std::string& pid) {
  char target[4096];
  const ssize_t length = readlink(("/proc/" + pid + "/exe").c_str(), target, sizeof(target) - 1);
  if (length > 0) {
    std::string path(target, static_cast<size_t>(length));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
      path.resize(path.size() - deleted.size());
    return path;
  }
  std::ifstream commandLine("/proc/" + pid + "/cmdline", std::ios::binary);
  std::string first;
  std::getline(commandLine, first, '\0');
  return first;
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void KillProcessesByName(const std::string& imageName) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return;
  while (dirent* entry = readdir(processes)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string executable = ExecutableOf(pid);
    if (executable.empty()) continue;
    if (SameImageName(FileNamePart(executable), imageName) || SameImageName(executable, imageName))
      kill(static_cast<pid_t>(std::atol(pid.c_str())), SIGKILL);
  }
  closedir(processes);
}

void KillProcessesOfProgram(const std::string& programPath) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return;
  const pid_t self = getpid();
  bool endSelf = false;
  while (dirent* entry = readdir(processes)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (!SameImageName(ExecutableOf(pid), programPath)) continue;
    const pid_t id = static_cast<pid_t>(std::atol(pid.c_str()));
    // This process ends last, once every other one has been ended.
    if (id == self) endSelf = true;
    else kill(id, SIGKILL);
  }
  closedir(processes);
  if (endSelf) kill(self, SIGKILL);
}
