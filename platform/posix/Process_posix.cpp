// The stand-in starts the program with posix_spawn: the path as it is, the
// arguments (turned to UTF-8) split at blanks (what a Windows program's own command-line
// parsing does with unquoted text), the path's folder as working folder. The
// "thread" is the child's process id; its exit code is read once it has been
// reaped and kept until the handle is closed.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/posix/NativePath.h"

extern char** environ;

namespace {

std::mutex ExitLock;
std::map<pid_t, uint32_t> ExitCodes;

std::vector<std::string> SplitAtBlanks(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find(' ', at);
    const std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!word.empty()) words.push_back(word);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return words;
}

}  // namespace

TProcessThread StartProcess(const std::string& path, const std::string& arguments) {
  const std::string program = NativePath(path);
  std::vector<std::string> words = SplitAtBlanks(Cp936ToUtf8(arguments));
  words.insert(words.begin(), program);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const size_t slash = program.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t child = 0;
  const int failed = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? static_cast<TProcessThread>(child) : 0;
}

bool ProcessThreadExitCode(TProcessThread thread, uint32_t& exitCode) {
  const pid_t child = static_cast<pid_t>(thread);
  std::lock_guard<std::mutex> guard(ExitLock);
  const auto known = ExitCodes.find(child);
  if (known != ExitCodes.end()) {
    exitCode = known->second;
    return true;
  }
  int status = 0;
  const pid_t reaped = waitpid(child, &status, WNOHANG);
  if (reaped == 0) {
    exitCode = ProcessStillActive;
    return true;
  }
  if (reaped != child) return false;
  exitCode = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status)) : 1;
  ExitCodes[child] = exitCode;
  return true;
}

void CloseProcessThread(TProcessThread thread) {
  const pid_t child = static_cast<pid_t>(thread);
  std::lock_guard<std::mutex> guard(ExitLock);
  // A child that has ended and was never asked about is reaped here.
  if (ExitCodes.erase(child) == 0) waitpid(child, nullptr, WNOHANG);
}
