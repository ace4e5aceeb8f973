#include "install/logic/SelfUpdate.h"

#include "common/Log.h"
#include "common/Md5.h"
#include "common/PathUtils.h"
#include "http/cSendUtils.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "platform/ProcessKill.h"
#include "platform/Tick.h"
#include "signing/Crypto.h"

TSelfUpdateOperations TSelfUpdateOperations::Platform() {
  TSelfUpdateOperations operations;
  operations.KillProcesses = [](const std::string& imageName) { KillProcessesByName(imageName); };
  operations.Sleep = [](uint32_t milliseconds) { SleepMs(milliseconds); };
  // The started program's handles are not needed: closing them leaves it running.
  operations.Start = [](const std::string& path, const std::string& arguments) {
    return static_cast<bool>(StartProcess(path, arguments));
  };
  operations.Copy = [](const std::string& from, const std::string& to) { return CopyFileAt(from, to); };
  operations.ClearAttributes = [](const std::string&) {};
  operations.Delete = [](const std::string& path) { return DeleteFileAt(path); };
  return operations;
}

bool IsSelfUpdateProgram(const std::string& programPath) {
  const std::string name = ExtractFileName(programPath);
  const std::string base = ExtractBaseName(programPath);
  return name.size() > base.size() && SameText(name.substr(base.size()), ".update");
}

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Why one entry does not vouch for the file; empty when it does.
std::string EntryMismatch(const TLauncherEntryDigests& entry, bool signedRun, const std::string& md5,
                          const std::string& sha256) {
  if (signedRun && !IsSha256Text(entry.Sha256)) return "the signed launcher entry has no Sha256";
  // An empty or unreadable file digests as 32 "0", which no entry vouches for.
  if (md5 == std::string(32, '0') || Lower(entry.Md5) != md5) return "its MD5 is not the launcher entry's";
  if (!entry.Sha256.empty() && Lower(entry.Sha256) != sha256) return "its SHA-256 is not the launcher entry's";
  return std::string();
}

}  // namespace

std::string SelfUpdateRefusal(const TAcceptedUpdate& accepted, const std::string& md5, const std::string& sha256) {
  if (accepted.Entries.empty()) return "the launcher run accepted no launcher entry";
  std::string reason;
  for (const TLauncherEntryDigests& entry : accepted.Entries) {
    reason = EntryMismatch(entry, accepted.Signed, md5, sha256);
    if (reason.empty()) return reason;
  }
  return reason;
}

TSelfUpdateCheck SelfUpdateCheck(const std::string& programPath, const TSelfUpdateOperations& operations,
                                 const TAcceptedUpdate& accepted, const TSelfUpdateTiming& timing) {
  const std::string folder = ExtractFilePath(programPath);
  const std::string base = ExtractBaseName(programPath);
  const std::string program = folder + base + ".exe";
  const std::string update = folder + base + ".update";
  if (!FileExists(program) || !FileExists(update)) return TSelfUpdateCheck::NothingToDo;
  const std::string md5 = MD5OfFile(update);
  if (MD5OfFile(program) == md5) return TSelfUpdateCheck::NothingToDo;
  // Only a program the run accepted is started: anything else beside the
  // launcher (planted by an archive, a mirror or another program) is removed.
  const std::string refusal = SelfUpdateRefusal(accepted, md5, Sha256OfFile(update));
  if (!refusal.empty()) {
    operations.ClearAttributes(update);
    const bool deleted = operations.Delete(update);
    LogError("self-update: " + update + " not started: " + refusal + (deleted ? "; deleted" : "; cannot delete it"));
    return TSelfUpdateCheck::Refused;
  }
  LogError("self-update: " + update + " differs from " + program);
  operations.KillProcesses(base + ".update");
  operations.Sleep(timing.CheckDelayMs);
  if (operations.Start(update, std::string())) return TSelfUpdateCheck::Started;
  // Ending now would leave the player with no launcher at all, and the next
  // start would end the same way; this one goes on instead.
  LogError("self-update: cannot start " + update);
  return TSelfUpdateCheck::StartFailed;
}

namespace {

// Copies over the target; each failed copy ends the processes that may hold
// the target, clears its attributes and deletes it before the next attempt.
bool ReplaceWithRetry(const std::string& source, const std::string& target, const std::string& targetImage,
                      const TSelfUpdateOperations& operations, const TSelfUpdateTiming& timing) {
  for (int attempt = 1; attempt <= timing.CopyAttempts; ++attempt) {
    if (operations.Copy(source, target)) return true;
    if (attempt == timing.CopyAttempts) break;
    operations.KillProcesses(targetImage);
    operations.ClearAttributes(target);
    operations.Delete(target);
    operations.Sleep(timing.CopyIntervalMs);
  }
  return false;
}

}  // namespace

// Both names are taken in the program's own folder rather than the working
// directory: started by hand from elsewhere, the swap would otherwise delete
// a file of the same name in an unrelated folder.
bool RunSelfUpdateSwap(const std::string& programPath, const TSelfUpdateOperations& operations,
                       const TSelfUpdateTiming& timing) {
  const std::string folder = ExtractFilePath(programPath);
  const std::string base = ExtractBaseName(programPath);
  const std::string target = folder + base + ".exe";
  operations.Sleep(timing.SwapDelayMs);
  if (!ReplaceWithRetry(programPath, target, base + ".exe", operations, timing)) {
    LogError("self-update: cannot replace " + target + " after " + std::to_string(timing.CopyAttempts) +
             " attempts");
    return false;
  }
  if (operations.Start(target, std::string())) return true;
  LogError("self-update: cannot start " + target);
  return false;
}
