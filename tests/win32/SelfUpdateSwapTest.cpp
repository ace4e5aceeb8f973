// The self-update swap with the system's own file calls: a target that
// refuses the copy is cleared and replaced, one held open by another process
// is given up after the attempts.
#include "install/SelfUpdateWin.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "common/PathUtils.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "platform/Tick.h"
#include "ui/MainSkin.h"
#include "support/TestSupport.h"

namespace {

std::wstring Wide(const std::string& path) {
  const std::u16string wide = Cp936ToUtf16(path);
  return std::wstring(wide.begin(), wide.end());
}

// The start-marker program of this build, which writes "start-marker.txt"
// into its working directory.
std::string StartMarkerProgram() {
  return ExtractFilePath(GetModuleFilePath()) + "..\\install\\start-marker.exe";
}

std::string LauncherProgram() { return ExtractFilePath(GetModuleFilePath()) + "..\\launcher\\launcher.exe"; }

// An open handle that shares nothing, as a running program holds its file.
class TExclusiveHandle {
public:
  explicit TExclusiveHandle(const std::string& path)
      : FHandle(CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~TExclusiveHandle() {
    if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
  }
  bool Valid() const { return FHandle != INVALID_HANDLE_VALUE; }

private:
  HANDLE FHandle;
};

TSelfUpdateTiming QuickTiming() {
  TSelfUpdateTiming timing;
  timing.SwapDelayMs = 0;
  timing.CopyIntervalMs = 20;
  timing.CopyAttempts = 5;
  return timing;
}

}  // namespace

TEST(SelfUpdateSwap, AReadOnlyTargetIsReplacedAndStarted) {
  TTempFolder folder;
  const std::string target = folder / "launcher.exe";
  WriteWholeFile(target, "old launcher");
  // Windows refuses a plain copy over it (Wine run by root does not).
  ASSERT_TRUE(SetFileAttributesW(Wide(target).c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CopyFileAt(StartMarkerProgram(), folder / "launcher.update"));

  EXPECT_TRUE(RunSelfUpdateSwap(folder / "launcher.update", WindowsSelfUpdateOperations(), QuickTiming()));
  EXPECT_EQ(ReadWholeFile(target), ReadWholeFile(folder / "launcher.update"));
  for (int waited = 0; waited < 20000 && !FileExists(folder / "start-marker.txt"); waited += 50) SleepMs(50);
  EXPECT_TRUE(FileExists(folder / "start-marker.txt"));
}

TEST(SelfUpdateSwap, ATargetHeldOpenIsGivenUpAfterTheAttempts) {
  TTempFolder folder;
  TLogCapture log;
  const std::string target = folder / "launcher.exe";
  WriteWholeFile(target, "old launcher");
  ASSERT_TRUE(CopyFileAt(StartMarkerProgram(), folder / "launcher.update"));
  {
    TExclusiveHandle holder(target);
    ASSERT_TRUE(holder.Valid());
    const DWORD before = GetTickCount();
    EXPECT_FALSE(RunSelfUpdateSwap(folder / "launcher.update", WindowsSelfUpdateOperations(), QuickTiming()));
    EXPECT_LT(GetTickCount() - before, 5000u);
  }
  EXPECT_TRUE(log.Contains("self-update: cannot replace " + target + " after 5 attempts"));
  EXPECT_EQ(ReadWholeFile(target), "old launcher");
  SleepMs(300);
  EXPECT_FALSE(FileExists(folder / "start-marker.txt"));
}

// The launcher program itself, started as launcher.update: it replaces
// launcher.exe with itself, starts it, and the new launcher's window comes up.
TEST(SelfUpdateSwap, TheLauncherStartedAsDotUpdateReplacesAndStartsLauncherExe) {
  ASSERT_EQ(FindWindowA(MainWindowClassName, nullptr), nullptr) << "another launcher is running";
  TTempFolder folder;
  ASSERT_TRUE(CopyFileAt(LauncherProgram(), folder / "launcher.update"));
  WriteWholeFile(folder / "launcher.exe", "old launcher");
  const TStartedProcess swap = StartProcess(folder / "launcher.update", "");
  ASSERT_TRUE(swap);
  ASSERT_TRUE(swap.WaitForExit(30000));
  uint32_t code = 1;
  EXPECT_TRUE(swap.ThreadExitCode(code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadWholeFile(folder / "launcher.exe"), ReadWholeFile(folder / "launcher.update"));

  HWND started = nullptr;
  for (int waited = 0; waited < 30000 && !started; waited += 50) {
    SleepMs(50);
    started = FindWindowA(MainWindowClassName, nullptr);
  }
  ASSERT_NE(started, nullptr) << "launcher.exe was not started";
  PostMessageA(started, WM_CLOSE, 0, 0);
  for (int waited = 0; waited < 30000 && IsWindow(started); waited += 50) SleepMs(50);
  EXPECT_FALSE(IsWindow(started));
}
