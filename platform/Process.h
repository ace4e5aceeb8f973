// Starting programs. A started program's process and primary thread handles
// are owned by one TStartedProcess and closed with it; closing them never
// ends the program.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

// The exit code a running thread reads (STILL_ACTIVE).
constexpr uint32_t StillActiveExitCode = 259;

class TStartedProcess {
public:
  TStartedProcess();
  ~TStartedProcess();
  TStartedProcess(TStartedProcess&& other) noexcept;
  TStartedProcess& operator=(TStartedProcess&& other) noexcept;
  TStartedProcess(const TStartedProcess&) = delete;
  TStartedProcess& operator=(const TStartedProcess&) = delete;

  // True when the program was started.
  explicit operator bool() const;
  // The primary thread's handle value (the process id where threads have no
  // handles of their own); 0 when nothing was started.
  uintptr_t ThreadHandle() const;
  // The primary thread's exit code, StillActiveExitCode while it runs; false
  // when it cannot be read.
  bool ThreadExitCode(uint32_t& code) const;
  // Waits up to `timeoutMs` for the program to end; true when it has ended.
  bool WaitForExit(uint32_t timeoutMs) const;

  struct THandles;

private:
  explicit TStartedProcess(std::unique_ptr<THandles> handles);
  friend TStartedProcess StartProcess(const std::string& path, const std::string& arguments);
  std::unique_ptr<THandles> FHandles;
};

// Starts `path` with the command line `path` + " " + `arguments` (`path`
// alone when `arguments` is empty; the path is not quoted), converted from
// code page 936, with the program's own folder as working directory and
// shown normally. An empty result when the program could not be started.
TStartedProcess StartProcess(const std::string& path, const std::string& arguments);

// The command line StartProcess gives the program.
std::string ProcessCommandLine(const std::string& path, const std::string& arguments);
