// CreateProcessW with the command line and working folder converted from
// code page 936. The program is also named on its own: the command line
// starts with the unquoted path, and without the name the system would try
// each blank-separated beginning of a path with blanks ("C:\Program.exe" for
// "C:\Program Files\...") before the program itself. Only the thread handle
// is handed out: it is what the game watch reads, and the process handle is
// closed at once.
#include <windows.h>

#include <vector>

#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/win32/WidePath.h"

namespace {

std::string DirectoryPart(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' || path[i] == '/') last = i;
    // The trail byte of a double-byte character may be 0x5C.
    if (IsCp936LeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) ++i;
  }
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

}  // namespace

TProcessThread StartProcess(const std::string& path, const std::string& arguments) {
  const std::string commandLine = arguments.empty() ? path : path + " " + arguments;
  const std::u16string wideCommand = Cp936ToUtf16(commandLine);
  // CreateProcessW may write into the command line buffer.
  std::vector<wchar_t> command(wideCommand.begin(), wideCommand.end());
  command.push_back(L'\0');
  const std::string folder = DirectoryPart(path);
  const std::wstring wideFolder = WidePath(folder);
  const std::wstring program = WidePath(path);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : wideFolder.c_str(), &startup, &info))
    return 0;
  CloseHandle(info.hProcess);
  return reinterpret_cast<TProcessThread>(info.hThread);
}

bool ProcessThreadExitCode(TProcessThread thread, uint32_t& exitCode) {
  DWORD code = 0;
  if (!GetExitCodeThread(reinterpret_cast<HANDLE>(thread), &code)) return false;
  exitCode = code;
  return true;
}

void CloseProcessThread(TProcessThread thread) {
  if (thread > 0) CloseHandle(reinterpret_cast<HANDLE>(thread));
}
