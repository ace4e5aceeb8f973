#include "install/logic/HandOver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// Runs the test in `folder` as the current directory.
class TWorkingDirectory {
public:
  explicit TWorkingDirectory(const std::string& folder) : FPrevious(fs::current_path()) {
    fs::current_path(fs::path(Cp936ToUtf16(folder)));
  }
  ~TWorkingDirectory() { fs::current_path(FPrevious); }

private:
  fs::path FPrevious;
};

}  // namespace

TEST(HandOver, DeletesTheFileOfArgumentOnesNameInTheCurrentDirectory) {
  TTempFolder folder;
  TTempFolder elsewhere;
  WriteWholeFile(folder / "launcher.exe", "first copy");
  WriteWholeFile(elsewhere / "launcher.exe", "untouched");
  TWorkingDirectory inFolder(folder.Path());
  EXPECT_TRUE(DeleteHandedOverFile("D:\\Downloads\\launcher.exe"));
  EXPECT_FALSE(FileExists(folder / "launcher.exe"));
  EXPECT_TRUE(FileExists(elsewhere / "launcher.exe"));
  EXPECT_TRUE(DeleteHandedOverFile(""));
}

TEST(HandOver, AFileThatCannotBeDeletedEndsTheLoopAfterItsAttempts) {
  TTempFolder folder;
  TLogCapture log;
  WriteWholeFile(folder / "stuck.exe", "a program still running");
  TWorkingDirectory inFolder(folder.Path());
  THandOverTiming timing;
  timing.Attempts = 3;
  timing.IntervalMs = 10;
  // A running program's file refuses to go.
  int tries = 0;
  timing.Delete = [&tries](const std::string&) {
    ++tries;
    return false;
  };
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(DeleteHandedOverFile("C:\\x\\stuck.exe", timing));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_EQ(tries, 3);
  EXPECT_TRUE(FileExists(folder / "stuck.exe"));
  EXPECT_TRUE(log.Contains("hand-over: cannot delete stuck.exe"));
}
