// CreateProcessW with the command line and working folder converted from
// code page 936. The program is also named on its own: the command line
// starts with the unquoted path, and without the name the system would try
// each blank-separated beginning of a path with blanks ("C:\Program.exe" for
// "C:\Program Files\...") before the program itself. Both handles stay open
// while the owner lives, so the primary thread's exit code can be read after
// the program ended.
#include <windows.h>

#include <utility>

#include "platform/CodePage.h"
#include "platform/Process.h"

struct TStartedProcess::THandles {
  HANDLE Process = nullptr;
  HANDLE Thread = nullptr;
  ~THandles() {
    if (Thread) CloseHandle(Thread);
    if (Process) CloseHandle(Process);
  }
};

TStartedProcess::TStartedProcess() = default;
TStartedProcess::TStartedProcess(std::unique_ptr<THandles> handles) : FHandles(std::move(handles)) {}
TStartedProcess::~TStartedProcess() = default;
TStartedProcess::TStartedProcess(TStartedProcess&& other) noexcept = default;
TStartedProcess& TStartedProcess::operator=(TStartedProcess&& other) noexcept = default;

TStartedProcess::operator bool() const { return FHandles != nullptr; }

uintptr_t TStartedProcess::ThreadHandle() const {
  return FHandles ? reinterpret_cast<uintptr_t>(FHandles->Thread) : 0;
}

bool TStartedProcess::ThreadExitCode(uint32_t& code) const {
  DWORD exitCode = 0;
  if (!FHandles || !GetExitCodeThread(FHandles->Thread, &exitCode)) return false;
  code = exitCode;
  return true;
}

bool TStartedProcess::WaitForExit(uint32_t timeoutMs) const {
  return FHandles && WaitForSingleObject(FHandles->Process, timeoutMs) == WAIT_OBJECT_0;
}

namespace {

// The folder part of a wide path; found in UTF-16, where no trail byte can
// look like a separator.
std::u16string FolderOf(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

}  // namespace

TStartedProcess StartProcess(const std::string& path, const std::string& arguments) {
  // CreateProcessW may write into the command line, so it gets its own buffer.
  std::u16string commandLine = Cp936ToUtf16(ProcessCommandLine(path, arguments));
  commandLine.push_back(u'\0');
  const std::u16string program = Cp936ToUtf16(path);
  const std::u16string folder = FolderOf(program);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(reinterpret_cast<const wchar_t*>(program.c_str()), reinterpret_cast<wchar_t*>(commandLine.data()), nullptr, nullptr, FALSE, 0,
                      nullptr, folder.empty() ? nullptr : reinterpret_cast<const wchar_t*>(folder.c_str()),
                      &startup, &started))
    return TStartedProcess();
  auto handles = std::make_unique<TStartedProcess::THandles>();
  handles->Process = started.hProcess;
  handles->Thread = started.hThread;
  return TStartedProcess(std::move(handles));
}
