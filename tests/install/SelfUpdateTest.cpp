#include "install/logic/SelfUpdate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "common/Md5.h"
#include "common/PathUtils.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "platform/Tick.h"
#include "signing/Crypto.h"
#include "support/TestSupport.h"

namespace {

// The platform's operations, with the waits recorded instead of slept and
// every call noted.
struct TRecorded {
  std::vector<std::string> Calls;
  std::vector<uint32_t> Sleeps;
  TSelfUpdateOperations Operations = TSelfUpdateOperations::Platform();

  TRecorded() {
    const TSelfUpdateOperations platform = Operations;
    Operations.KillProcesses = [this, platform](const std::string& name) {
      Calls.push_back("kill " + name);
      platform.KillProcesses(name);
    };
    Operations.Sleep = [this](uint32_t ms) { Sleeps.push_back(ms); };
    Operations.Start = [this, platform](const std::string& path, const std::string& arguments) {
      Calls.push_back("start " + path);
      return platform.Start(path, arguments);
    };
    Operations.Delete = [this, platform](const std::string& path) {
      Calls.push_back("delete " + path);
      return platform.Delete(path);
    };
  }
};

// The start-marker program of this build (install/), which notes its
// arguments in "start-marker.txt" of its working directory.
std::string StartMarkerProgram() {
  const std::string build = ExtractFilePath(GetModuleFilePath()) + "../install/start-marker";
  return FileExists(build + ".exe") ? build + ".exe" : build;
}

// Puts a copy of the start-marker program at `path`, runnable.
void PlaceMarkerProgram(const std::string& path) {
  ASSERT_TRUE(CopyFileAt(StartMarkerProgram(), path)) << "start-marker is built with the install folder";
  namespace fs = std::filesystem;
  fs::permissions(fs::path(Cp936ToUtf16(path)), fs::perms::owner_exec | fs::perms::owner_read, fs::perm_options::add);
}

// The marker's lines once the started program has written them.
std::vector<std::string> WaitForMarker(const std::string& folder, int timeoutMs = 20000) {
  const std::string path = folder + "start-marker.txt";
  for (int waited = 0; waited < timeoutMs && !FileExists(path); waited += 20) SleepMs(20);
  SleepMs(100);  // the program may still be writing
  std::vector<std::string> lines;
  if (!FileExists(path)) return lines;
  const std::string text = ReadWholeFile(path);
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

// What a launcher run that accepted `path`'s digests as its launcher entry hands over.
TAcceptedUpdate AcceptedAs(const std::string& path, bool signedRun = false) {
  TAcceptedUpdate accepted;
  accepted.Signed = signedRun;
  accepted.Entries.push_back({MD5OfFile(path), Sha256OfFile(path)});
  return accepted;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(SelfUpdate, ProgramsNamedDotUpdateInAnyCaseRunTheSwap) {
  EXPECT_TRUE(IsSelfUpdateProgram("C:\\Game\\launcher.update"));
  EXPECT_TRUE(IsSelfUpdateProgram("C:\\Game\\launcher.UpDaTe"));
  EXPECT_TRUE(IsSelfUpdateProgram("/game/launcher.v2.update"));
  EXPECT_FALSE(IsSelfUpdateProgram("C:\\Game\\launcher.exe"));
  EXPECT_FALSE(IsSelfUpdateProgram("C:\\Game\\update"));
  EXPECT_FALSE(IsSelfUpdateProgram("C:\\my.update\\launcher.exe"));
  EXPECT_FALSE(IsSelfUpdateProgram("C:\\Game\\launcher.updater"));
}

TEST(SelfUpdate, CheckDoesNothingWhenAFileIsMissingOrBothAreEqual) {
  TTempFolder folder;
  TRecorded recorded;
  const std::string program = folder / "launcher.exe";
  WriteWholeFile(program, "version 1");
  EXPECT_EQ(SelfUpdateCheck(program, recorded.Operations, TAcceptedUpdate()), TSelfUpdateCheck::NothingToDo);
  WriteWholeFile(folder / "launcher.update", "version 1");
  EXPECT_EQ(SelfUpdateCheck(program, recorded.Operations, TAcceptedUpdate()), TSelfUpdateCheck::NothingToDo);
  DeleteFileAt(program);
  WriteWholeFile(folder / "launcher.update", "version 2");
  EXPECT_EQ(SelfUpdateCheck(program, recorded.Operations, TAcceptedUpdate()), TSelfUpdateCheck::NothingToDo);
  EXPECT_TRUE(recorded.Calls.empty());
}

TEST(SelfUpdate, CheckStartsTheDifferingUpdateInItsFolder) {
  TTempFolder folder;
  TRecorded recorded;
  WriteWholeFile(folder / "launcher.exe", "version 1");
  PlaceMarkerProgram(folder / "launcher.update");
  // The running program may carry another extension: <base>.exe is compared.
  EXPECT_EQ(SelfUpdateCheck(folder / "launcher.bin", recorded.Operations, AcceptedAs(folder / "launcher.update")),
            TSelfUpdateCheck::Started);
  EXPECT_EQ(recorded.Calls, (std::vector<std::string>{"kill launcher.update", "start " + (folder / "launcher.update")}));
  EXPECT_EQ(recorded.Sleeps, std::vector<uint32_t>{200});
  // Started without arguments, with the program's folder as working directory.
  const std::vector<std::string> marker = WaitForMarker(folder.Path());
  ASSERT_EQ(marker.size(), 1u);
  EXPECT_TRUE(EndsWith(marker[0], "launcher.update")) << marker[0];
}

TEST(SelfUpdate, CheckGoesOnWhenTheUpdateCannotStart) {
  TTempFolder folder;
  TRecorded recorded;
  TLogCapture log;
  WriteWholeFile(folder / "launcher.exe", "version 1");
  WriteWholeFile(folder / "launcher.update", "not a program");  // not executable
  EXPECT_EQ(SelfUpdateCheck(folder / "launcher.exe", recorded.Operations, AcceptedAs(folder / "launcher.update")),
            TSelfUpdateCheck::StartFailed);
  EXPECT_TRUE(log.Contains("self-update: cannot start " + (folder / "launcher.update")));
}

// Only a <base>.update that the launcher run accepted is started: anything
// else is deleted and the reason logged, and the launcher goes on.
TEST(SelfUpdate, CheckStartsOnlyWhatTheLauncherRunAccepted) {
  TTempFolder folder;
  const std::string update = folder / "launcher.update";
  WriteWholeFile(folder / "other", "another program");
  const TAcceptedUpdate other = AcceptedAs(folder / "other");
  const struct {
    const char* what;
    std::function<TAcceptedUpdate()> accepted;
    TSelfUpdateCheck result;
    const char* logged;
  } cases[] = {
      {"no manifest accepted", [] { return TAcceptedUpdate(); }, TSelfUpdateCheck::Refused,
       "the launcher run accepted no launcher entry"},
      {"another file's entry", [&] { return other; }, TSelfUpdateCheck::Refused,
       "its MD5 is not the launcher entry's"},
      {"the right MD5 with another SHA-256",
       [&] {
         TAcceptedUpdate accepted = AcceptedAs(update);
         accepted.Entries[0].Sha256 = other.Entries[0].Sha256;
         return accepted;
       },
       TSelfUpdateCheck::Refused, "its SHA-256 is not the launcher entry's"},
      {"a signed entry without SHA-256",
       [&] {
         TAcceptedUpdate accepted = AcceptedAs(update, true);
         accepted.Entries[0].Sha256.clear();
         return accepted;
       },
       TSelfUpdateCheck::Refused, "the signed launcher entry has no Sha256"},
      {"an unsigned entry by MD5 alone",
       [&] {
         TAcceptedUpdate accepted = AcceptedAs(update);
         accepted.Entries[0].Sha256.clear();
         return accepted;
       },
       TSelfUpdateCheck::Started, nullptr},
      {"the second of two signed entries, in capitals",
       [&] {
         TAcceptedUpdate accepted = AcceptedAs(update, true);
         for (char& c : accepted.Entries[0].Md5) c = static_cast<char>(std::toupper(c));
         accepted.Entries.insert(accepted.Entries.begin(), other.Entries[0]);
         return accepted;
       },
       TSelfUpdateCheck::Started, nullptr},
  };
  for (const auto& c : cases) {
    WriteWholeFile(folder / "launcher.exe", "version 1");
    PlaceMarkerProgram(update);
    TRecorded recorded;
    TLogCapture log;
    EXPECT_EQ(SelfUpdateCheck(folder / "launcher.exe", recorded.Operations, c.accepted()), c.result) << c.what;
    if (c.result == TSelfUpdateCheck::Refused) {
      EXPECT_FALSE(FileExists(update)) << c.what;
      EXPECT_EQ(recorded.Calls, std::vector<std::string>{"delete " + update}) << c.what;
      EXPECT_TRUE(log.Contains("self-update: " + update + " not started: " + c.logged + "; deleted")) << c.what;
    } else {
      EXPECT_EQ(recorded.Calls.back(), "start " + update) << c.what;
      EXPECT_EQ(WaitForMarker(folder.Path()).size(), 1u) << c.what;
      DeleteFileAt(folder / "start-marker.txt");
    }
  }
}

TEST(SelfUpdate, SwapCopiesItselfOverTheProgramAndStartsIt) {
  TTempFolder folder;
  TRecorded recorded;
  // The old program is runnable, and a copy over it keeps it so.
  PlaceMarkerProgram(folder / "launcher.exe");
  WriteWholeFile(folder / "launcher.exe", "old launcher");
  PlaceMarkerProgram(folder / "launcher.update");
  const std::string newBytes = ReadWholeFile(folder / "launcher.update");
  EXPECT_TRUE(RunSelfUpdateSwap(folder / "launcher.update", recorded.Operations));
  EXPECT_EQ(ReadWholeFile(folder / "launcher.exe"), newBytes);
  EXPECT_EQ(ReadWholeFile(folder / "launcher.update"), newBytes);  // stays for the next comparison
  EXPECT_EQ(recorded.Sleeps, std::vector<uint32_t>{500});
  EXPECT_EQ(recorded.Calls, std::vector<std::string>{"start " + (folder / "launcher.exe")});
  const std::vector<std::string> marker = WaitForMarker(folder.Path());
  ASSERT_EQ(marker.size(), 1u);
  EXPECT_TRUE(EndsWith(marker[0], "launcher.exe")) << marker[0];
}

TEST(SelfUpdate, SwapDeletesATargetThatRefusesTheCopyAndTriesAgain) {
  TTempFolder folder;
  TRecorded recorded;
  WriteWholeFile(folder / "launcher.exe", "old launcher");
  WriteWholeFile(folder / "launcher.update", "new launcher");
  recorded.Operations.Start = [&recorded](const std::string& path, const std::string&) {
    recorded.Calls.push_back("start " + path);
    return true;
  };
  // The first copy fails as it would over a program that is still running.
  int copies = 0;
  recorded.Operations.Copy = [&copies](const std::string& from, const std::string& to) {
    return ++copies > 1 && CopyFileAt(from, to);
  };
  EXPECT_TRUE(RunSelfUpdateSwap(folder / "launcher.update", recorded.Operations));
  EXPECT_EQ(copies, 2);
  EXPECT_EQ(recorded.Calls, (std::vector<std::string>{"kill launcher.exe", "delete " + (folder / "launcher.exe"),
                                                      "start " + (folder / "launcher.exe")}));
  EXPECT_EQ(recorded.Sleeps, (std::vector<uint32_t>{500, 100}));
  EXPECT_EQ(ReadWholeFile(folder / "launcher.exe"), ReadWholeFile(folder / "launcher.update"));
}

TEST(SelfUpdate, SwapGivesUpAfterItsAttemptsWhenTheTargetCannotBeReplaced) {
  TTempFolder folder;
  TRecorded recorded;
  TLogCapture log;
  // A folder in the target's place can neither be overwritten nor deleted.
  ForceDirectories(folder / "launcher.exe");
  PlaceMarkerProgram(folder / "launcher.update");
  TSelfUpdateTiming timing;
  timing.CopyAttempts = 4;
  EXPECT_FALSE(RunSelfUpdateSwap(folder / "launcher.update", recorded.Operations, timing));
  EXPECT_EQ(recorded.Sleeps, (std::vector<uint32_t>{500, 100, 100, 100}));
  EXPECT_EQ(std::count(recorded.Calls.begin(), recorded.Calls.end(), "kill launcher.exe"), 3);
  EXPECT_TRUE(log.Contains("self-update: cannot replace " + (folder / "launcher.exe") + " after 4 attempts"));
  EXPECT_FALSE(FileExists(folder / "start-marker.txt"));
  for (const std::string& call : recorded.Calls) EXPECT_EQ(call.rfind("start ", 0), std::string::npos);
}

TEST(StartProcess, AProgramThatCannotStartGivesNothing) {
  TTempFolder folder;
  const TStartedProcess missing = StartProcess(folder / "missing.exe", "");
  EXPECT_FALSE(missing);
  EXPECT_EQ(missing.ThreadHandle(), 0u);
  uint32_t code = 0;
  EXPECT_FALSE(missing.ThreadExitCode(code));
}

TEST(StartProcess, StartsInTheProgramsFolderWithItsArgumentsAndReadsTheExitCode) {
  TTempFolder folder;
  const std::string program = folder / "client.bin";
  PlaceMarkerProgram(program);
  const TStartedProcess started = StartProcess(program, "/id:12 /servername:East 1");
  ASSERT_TRUE(started);
  EXPECT_NE(started.ThreadHandle(), 0u);
  ASSERT_TRUE(started.WaitForExit(20000));
  uint32_t code = 0;
  ASSERT_TRUE(started.ThreadExitCode(code));
  EXPECT_EQ(code, 7u);
  const std::vector<std::string> marker = WaitForMarker(folder.Path());
  // The unquoted command line splits at every blank.
  ASSERT_EQ(marker.size(), 4u);
  EXPECT_TRUE(EndsWith(marker[0], "client.bin")) << marker[0];
  EXPECT_EQ(std::vector<std::string>(marker.begin() + 1, marker.end()),
            (std::vector<std::string>{"/id:12", "/servername:East", "1"}));
}
