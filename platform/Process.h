// Starting programs and watching them by their primary thread (StartProcess).
#pragma once
#include <cstdint>
#include <string>

// The handle of a started program's primary thread; 0 is none.
using TProcessThread = intptr_t;

// Exit code of a thread that still runs (STILL_ACTIVE).
constexpr uint32_t ProcessStillActive = 259;

// Starts the program `path` with the command line made of the path
// (unquoted), and one blank and `arguments` when there are any, in the
// directory part of `path` as working folder, shown normally. The primary thread's handle, or 0 when
// the program could not be started.
TProcessThread StartProcess(const std::string& path, const std::string& arguments);
// The exit code of the started program's primary thread (ProcessStillActive
// while it runs); false when it cannot be read.
bool ProcessThreadExitCode(TProcessThread thread, uint32_t& exitCode);
void CloseProcessThread(TProcessThread thread);
