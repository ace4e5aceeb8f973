// launcher-update --base URL [--base URL ...] --dir FOLDER [--mode 0|1]
//                 [--key PUBLIC_KEY] [--ca-file PEM] [--limit-rate KBPS] [--repair]
// Runs the launcher's update engine without a window: the folder is brought
// up to date from the update server at URL ("http://" or "https://") exactly
// as the launcher would, with status lines and progress on the terminal.
// Several --base give the run's mirrors in order of preference. --repair
// checks every file by its content, whatever the state file records, and
// fetches only what is wrong.
// With --key the release must be signed with that key, as for a launcher
// whose package carries it. --ca-file trusts the CA certificates of a PEM
// file besides the system's; --limit-rate caps the run's downloads at KBPS
// kilobytes per second over all its connections (without it, "maxspeed" of
// launcher.ini in FOLDER does, as in the launcher).
// Exit codes: 0 the run succeeded and every needed file is right; 1 the run
// failed (no manifest) or was interrupted; 2 usage; 3 the run succeeded as
// the window would be told, but files were still missing or wrong after its
// passes; 4 the run refused a document for its signature (nothing changed);
// 5 the run failed and a server's certificate was refused on the way; 6 the
// volume has less room than the run needs (RunOutcome.h maps them).
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/WindowMessages.h"
#include "platform/Arguments.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "platform/Tls.h"
#include "signing/ReleaseSignature.h"
#include "update/manifest/SignedDocuments.h"
#include "update/run/RunOutcome.h"
#include "update/run/UpdateThread.h"

namespace {

std::atomic<bool> Interrupted{false};
void OnSignal(int) { Interrupted = true; }

// Prints what the update thread posts to its window.
class TConsoleSink : public TMessageSink {
public:
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> guard(FLock);
    switch (message) {
      case UM_STATUS_TEXT:
        std::printf("%s\n", Cp936ToUtf8(TakePostedText(wParam)).c_str());
        break;
      case UM_TOTAL_PROGRESS:
        FTotal = wParam;
        FTotalMax = static_cast<uint32_t>(lParam);
        PrintProgress(false);
        break;
      case UM_CURRENT_PROGRESS:
        FCurrent = wParam;
        FCurrentMax = static_cast<uint32_t>(lParam);
        PrintProgress(false);
        break;
      case UM_UPDATE_ERROR:
        std::printf("manifest attempt failed (error %u)\n", static_cast<unsigned>(wParam));
        break;
      case UM_UPDATE_DONE:
        PrintProgress(true);
        Done.SetEvent();
        break;
      default:
        break;
    }
    std::fflush(stdout);
  }

  TEvent Done;

private:
  void PrintProgress(bool force) {
    const uint32_t now = GetTickCount32();
    if (!force && now - FLastPrint < 500) return;
    FLastPrint = now;
    std::printf("  total %lu/%lu  current %lu/%lu\n", static_cast<unsigned long>(FTotal),
                static_cast<unsigned long>(FTotalMax), static_cast<unsigned long>(FCurrent),
                static_cast<unsigned long>(FCurrentMax));
  }

  std::mutex FLock;
  uintptr_t FTotal = 0, FCurrent = 0;
  uint32_t FTotalMax = 0, FCurrentMax = 0, FLastPrint = 0;
};

int Usage() {
  std::fprintf(stderr,
               "usage: launcher-update --base URL [--base URL ...] --dir FOLDER [--mode 0|1] "
               "[--name LAUNCHER_BASE_NAME] [--key PUBLIC_KEY] [--ca-file PEM] [--limit-rate KBPS] "
               "[--no-space-check] [--repair]\n");
  return 2;
}

// The closing lines; the exit code comes from the outcome alone.
void PrintEnd(const TRunOutcome& outcome, const std::vector<TMirrorReport>& mirrors, const std::string& folder) {
  const std::string log = Cp936ToUtf8(folder) + "UpdateLog.txt";
  switch (outcome.End) {
    case TRunEnd::SignatureRefused:
      std::printf("the update run refused the release: its signature check says %s; nothing was changed\n",
                  VerdictName(outcome.Verdict));
      break;
    case TRunEnd::DiskShort:
      std::printf("the update run stopped before writing anything: the folder's volume has too little room (see "
                  "%s)\n", log.c_str());
      break;
    case TRunEnd::Done:
      std::printf("the update run succeeded\n");
      break;
    case TRunEnd::FilesStillWrong:
      std::printf("the update run succeeded, but %d file(s) are still missing or wrong (see %s):\n",
                  static_cast<int>(outcome.StillWrong.size()), log.c_str());
      for (const std::string& file : outcome.StillWrong) std::printf("  %s\n", Cp936ToUtf8(file).c_str());
      break;
    default:
      std::printf("the update run failed (see %s)\n", log.c_str());
      if (outcome.End == TRunEnd::CertificateRefused)
        std::printf("a server's certificate was refused (the reason is in the log)\n");
      break;
  }
  if (mirrors.size() > 1) {
    for (const TMirrorReport& mirror : mirrors) {
      std::printf("mirror %s: %lld bytes, %d files", mirror.Base.c_str(), static_cast<long long>(mirror.Bytes),
                  mirror.Files);
      if (!mirror.SetAside.empty()) std::printf(", set aside: %s", mirror.SetAside.c_str());
      std::printf("\n");
    }
  }
  if (outcome.Repair && RunWentThrough(outcome.End)) std::printf("%s\n", RepairSummary(outcome.Figures).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string base, folder, baseName = "launcher", key, caFile;
  int mode = 0;
  long long limitRate = -1;
  bool checkSpace = true, repair = false;
  const std::vector<std::string> args = ProgramArguments(argc, argv);
  for (size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--base" && hasValue) base += (base.empty() ? "" : "|") + args[++i];
    else if (args[i] == "--dir" && hasValue) folder = Utf8ToCp936(args[++i]);
    else if (args[i] == "--mode" && hasValue) mode = std::atoi(args[++i].c_str());
    else if (args[i] == "--name" && hasValue) baseName = Utf8ToCp936(args[++i]);
    else if (args[i] == "--key" && hasValue) key = args[++i];
    else if (args[i] == "--ca-file" && hasValue) caFile = args[++i];
    else if (args[i] == "--limit-rate" && hasValue) limitRate = std::atoll(args[++i].c_str());
    else if (args[i] == "--no-space-check") checkSpace = false;
    else if (args[i] == "--repair") repair = true;
    else return Usage();
  }
  if (base.empty() || folder.empty() || (mode != 0 && mode != 1) || limitRate < -1 ||
      limitRate > 1000000000) {
    return Usage();
  }
  if (!caFile.empty() && !TlsTrustCaFile(caFile)) {
    std::fprintf(stderr, "launcher-update: no CA certificate in %s (this build trusts the system's store only)\n",
                 caFile.c_str());
    return 2;
  }
  TPublicKey parsedKey;
  if (!key.empty() && !ParsePublicKeyText(key, parsedKey)) {
    std::fprintf(stderr, "launcher-update: --key is not a public key text (\"p256:\" and base64, as launcher-keys "
                         "prints it)\n");
    return 2;
  }
  if (folder.back() != '/' && folder.back() != '\\') folder += '/';
  if (!ForceDirectories(folder)) {
    std::fprintf(stderr, "cannot create %s\n", folder.c_str());
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  TConsoleSink sink;
  TUpdateEnvironment environment;
  environment.LauncherFolder = folder;
  environment.LauncherBaseName = baseName;
  environment.PublicKey = key;
  environment.MaxSpeed = static_cast<int>(limitRate);
  environment.CheckSpace = checkSpace;
  environment.Repair = repair;
  TRunOutcome outcome;
  std::vector<TMirrorReport> mirrors;
  {
    TUpdateThread run(sink, mode, StateFileName(mode), mode == 0 ? ClientManifestName : LauncherManifestName, base,
                      environment);
    std::printf("update plan %d\n", run.UpdatePlan());
    while (!sink.Done.WaitFor(100) && !Interrupted && !run.Finished()) {
    }
    if (Interrupted) std::printf("cancelled; the next run continues from here\n");
    run.TerminateAndWait();
    outcome = run.Outcome();
    mirrors = run.MirrorReports();
  }  // the run ends here and writes UpdateLog.txt
  PrintEnd(outcome, mirrors, folder);
  return ExitCode(outcome);
}
