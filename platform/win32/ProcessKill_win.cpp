// Walks a Tool Help snapshot of the processes.
#include <windows.h>
#include <tlhelp32.h>

#include "platform/CodePage.h"
#include "platform/ProcessKill.h"

namespace {

// The name after the last separator that is a character of its own.
std::string FileNamePart(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' || path[i] == '/') start = i + 1;
    else if (IsCp936LeadByte(static_cast<unsigned char>(path[i]))) ++i;
  }
  return path.substr(start);
}

// Closes a process or snapshot handle when it goes out of scope.
class TOwnedHandle {
public:
  explicit TOwnedHandle(HANDLE handle) : FHandle(handle) {}
  ~TOwnedHandle() {
    if (FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
  }
  TOwnedHandle(const TOwnedHandle&) = delete;
  TOwnedHandle& operator=(const TOwnedHandle&) = delete;
  HANDLE Get() const { return FHandle; }
  bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }

private:
  HANDLE FHandle;
};

// The full path of the program file a process was started from, or empty.
std::string ProgramFileOf(HANDLE process) {
  wchar_t path[32768];
  DWORD size = sizeof(path) / sizeof(path[0]);
  if (!QueryFullProcessImageNameW(process, 0, path, &size)) return std::string();
  return Utf16ToCp936(std::u16string(reinterpret_cast<const char16_t*>(path), size));
}

}  // namespace

void KillProcessesOfProgram(const std::string& programPath) {
  const TOwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return;
  const std::string imageName = FileNamePart(programPath);
  const DWORD self = GetCurrentProcessId();
  bool endSelf = false;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
    const std::string executable =
        Utf16ToCp936(std::u16string(reinterpret_cast<const char16_t*>(entry.szExeFile)));
    // The name sorts out most processes without opening them.
    if (!SameImageName(FileNamePart(executable), imageName)) continue;
    const TOwnedHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
    if (!process.Valid() || !SameImageName(ProgramFileOf(process.Get()), programPath)) continue;
    // This process ends last, once every other one has been ended.
    if (entry.th32ProcessID == self) endSelf = true;
    else TerminateProcess(process.Get(), 0);
  }
  if (endSelf) TerminateProcess(GetCurrentProcess(), 0);
}

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
