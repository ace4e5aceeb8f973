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

// Only a copy of the running program goes: a document of argument 1's name
// (another size, or the same size and other bytes) stays, with a log line.
TEST(HandOver, DeletesOnlyACopyOfTheRunningProgramInTheCurrentDirectory) {
  TTempFolder folder;
  TTempFolder elsewhere;
  const std::string program = elsewhere / "running.exe";
  WriteWholeFile(program, "program bytes");
  const struct {
    const char* content;
    bool deleted;
  } cases[] = {{"program bytes", true}, {"program bytez", false}, {"notes", false}, {"", false}};
  TWorkingDirectory inFolder(folder.Path());
  for (const auto& c : cases) {
    TLogCapture log;
    WriteWholeFile(folder / "launcher.exe", c.content);
    WriteWholeFile(elsewhere / "launcher.exe", "program bytes");
    EXPECT_EQ(DeleteHandedOverFile("D:\\Downloads\\launcher.exe", program), c.deleted) << c.content;
    EXPECT_EQ(FileExists(folder / "launcher.exe"), !c.deleted) << c.content;
    EXPECT_EQ(log.Contains("hand-over: launcher.exe left, it is not a copy of this program"), !c.deleted)
        << c.content;
    EXPECT_EQ(ReadWholeFile(elsewhere / "launcher.exe"), "program bytes");
  }
  EXPECT_TRUE(DeleteHandedOverFile("", program));
  EXPECT_TRUE(DeleteHandedOverFile("missing.exe", program));
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
  EXPECT_FALSE(DeleteHandedOverFile("C:\\x\\stuck.exe", folder / "stuck.exe", timing));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_EQ(tries, 3);
  EXPECT_TRUE(FileExists(folder / "stuck.exe"));
  EXPECT_TRUE(log.Contains("hand-over: cannot delete stuck.exe"));
}
