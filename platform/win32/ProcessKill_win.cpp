// Walks a Tool Help snapshot of the processes.
#include <windows.h>
#include <tlhelp32.h>

#include "platform/CodePage.h"
#include "platform/ProcessKill.h"

namespace {

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void KillProcessesByName(const std::string& imageName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    const std::string executable =
        Utf16ToCp936(std::u16string(reinterpret_cast<const char16_t*>(entry.szExeFile)));
    if (!SameImageName(FileNamePart(executable), imageName) && !SameImageName(executable, imageName)) continue;
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    TerminateProcess(process, 0);
    CloseHandle(process);
  }
  CloseHandle(snapshot);
}
