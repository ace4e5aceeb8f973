// posix_spawn stands in for CreateProcessW so the logic that starts programs
// runs natively too. The arguments are split at blanks into argv, and the
// process id stands in for the primary thread's handle.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/posix/NativePath.h"

extern char** environ;

struct TStartedProcess::THandles {
  pid_t Pid = 0;
  bool Reaped = false;
  uint32_t ExitCode = 0;

  // Collects the exit status once; later calls answer from it.
  bool Ended() {
    if (Reaped) return true;
    int status = 0;
    const pid_t result = waitpid(Pid, &status, WNOHANG);
    if (result == 0) return false;
    Reaped = true;
    ExitCode = result == Pid && WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status)) : 1u;
    return true;
  }
};

TStartedProcess::TStartedProcess() = default;
TStartedProcess::TStartedProcess(std::unique_ptr<THandles> handles) : FHandles(std::move(handles)) {}
TStartedProcess::~TStartedProcess() = default;
TStartedProcess::TStartedProcess(TStartedProcess&& other) noexcept = default;
TStartedProcess& TStartedProcess::operator=(TStartedProcess&& other) noexcept = default;

TStartedProcess::operator bool() const { return FHandles != nullptr; }

uintptr_t TStartedProcess::ThreadHandle() const { return FHandles ? static_cast<uintptr_t>(FHandles->Pid) : 0; }

bool TStartedProcess::ThreadExitCode(uint32_t& code) const {
  if (!FHandles) return false;
  code = FHandles->Ended() ? FHandles->ExitCode : StillActiveExitCode;
  return true;
}

bool TStartedProcess::WaitForExit(uint32_t timeoutMs) const {
  if (!FHandles) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!FHandles->Ended()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

namespace {

std::vector<std::string> SplitAtBlanks(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
    const size_t end = text.find(' ', at);
    words.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  return words;
}

// The RAII owner of the spawn's file actions.
class TSpawnActions {
public:
  TSpawnActions() { posix_spawn_file_actions_init(&FActions); }
  ~TSpawnActions() { posix_spawn_file_actions_destroy(&FActions); }
  TSpawnActions(const TSpawnActions&) = delete;
  TSpawnActions& operator=(const TSpawnActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &FActions; }

private:
  posix_spawn_file_actions_t FActions;
};

}  // namespace

TStartedProcess StartProcess(const std::string& path, const std::string& arguments) {
  const std::string program = NativePath(path);
  std::vector<std::string> words = SplitAtBlanks(Cp936ToUtf8(arguments));
  words.insert(words.begin(), program);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  TSpawnActions actions;
  const size_t slash = program.find_last_of('/');
  if (slash != std::string::npos)
    posix_spawn_file_actions_addchdir_np(actions.Get(), program.substr(0, slash + 1).c_str());
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), actions.Get(), nullptr, argv.data(), environ) != 0) return TStartedProcess();
  auto handles = std::make_unique<TStartedProcess::THandles>();
  handles->Pid = pid;
  return TStartedProcess(std::move(handles));
}
