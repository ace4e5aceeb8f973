#include "update/run/UpdateThread.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <set>

#include "common/Format.h"
#include "common/Md5.h"
#include "common/PathUtils.h"
#include "http/FetchedFile.h"
#include "http/RateLimiter.h"
#include "net/uDnsLookup.h"
#include "package/LauncherSettings.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/FolderFiles.h"
#include "platform/Tick.h"
#include "platform/Tls.h"
#include "signing/Crypto.h"
#include "update/run/ProgressScale.h"
#include "update/run/RepairScan.h"
#include "update/run/UpdateTexts.h"
#include "update/run/WholeFile.h"

namespace {

TUpdateEnvironment Resolved(TUpdateEnvironment environment) {
  if (environment.LauncherFolder.empty()) environment.LauncherFolder = LauncherFolder();
  if (environment.LauncherBaseName.empty()) environment.LauncherBaseName = LauncherBaseName();
  return environment;
}

// "yyyy-mm-dd hh:nn:ss.zzz " in local time.
std::string LogTimestamp() {
  static std::mutex clockLock;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const int millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local;
  {
    std::lock_guard<std::mutex> guard(clockLock);
    local = *std::localtime(&seconds);
  }
  return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec, millis);
}

// The name a manifest entry is fetched under.
std::string DownloadName(const TDownloadItem& item) { return item.IsZip ? item.File + ".zip" : item.File; }

std::string StagingFolder(const std::string& folder) { return folder + "data\\launcher\\"; }

// Where the fetched file lands: the launcher's own entry in its staging
// folder, everything else at its place below the launcher folder.
std::string DownloadPath(const std::string& folder, const TDownloadItem& item) {
  return item.isLauncher != 0 ? StagingFolder(folder) + ExtractFileName(DownloadName(item))
                              : folder + DownloadName(item);
}

// What the transports check before a file takes the name they fetch it
// under: an archive's own MD5 whenever the manifest gives one, a plain
// file's MD5 unless the run is signed (it checks SHA-256 then, FetchPath).
std::string ExpectedDigest(const TDownloadItem& item, bool signedRun) {
  if (item.IsZip) return item.ZipHash;
  return signedRun ? std::string() : item.Hash;
}

// Where a signed run's transports put a file: beside its place, which it
// takes only once its SHA-256 is the manifest's (TUpdateThread::Checked).
std::string FetchPath(const std::string& localPath, bool signedRun) {
  return signedRun ? localPath + ".!sha" : localPath;
}

// A manifest's MD5 as the file digest spells it (32 lowercase hex digits), or
// empty when it is no MD5 at all.
std::string DigestText(std::string hash) {
  if (hash.size() != 32) return std::string();
  for (char& c : hash) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::string();
  }
  return hash;
}

// Free space below a file's size and this much more counts as a full disk.
constexpr int64_t DiskRoomMargin = 1 << 20;

int EngineWorkers(const TDownloadItem& item) { return item.Size <= 4096 ? 1 : 5; }

// The path below the launcher folder, as the player knows it.
std::string RelativeTo(const std::string& folder, const std::string& path) {
  return path.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path;
}

}  // namespace

TUpdateThread::TUpdateThread(TMessageSink& window, int mode, const std::string& stateFile,
                             const std::string& manifestName, const std::string& baseUrl,
                             const TUpdateEnvironment& environment)
    : FWindow(window),
      FMode(mode),
      FBaseUrl(baseUrl),
      FManifestName(manifestName),
      FStateFile(stateFile),
      FEnvironment(Resolved(environment)),
      FFiles(FEnvironment.LauncherFolder, FEnvironment.LauncherBaseName, stateFile, manifestName),
      FVersions(FEnvironment.LauncherFolder + AcceptedVersionsFileName(mode)) {
  if (!FEnvironment.PublicKey.empty()) {
    TPublicKey key;
    if (ParsePublicKeyText(FEnvironment.PublicKey, key)) FKey = key;
    else FKeyInvalid = true;
  }
  FFiles.IsCancelled = [this] { return Cancelled(); };
  FFiles.RequireSha256 = SignedRun();
  FFiles.OnStatus = [this](const std::string& text) { ShowStatus(text); };
  FFiles.OnLog = [this](const std::string& text) { Log(text); };
  FFiles.NameEveryFile = FEnvironment.Repair;
  FFiles.OnCurrentProgress = [this](int64_t position, int64_t maximum) {
    PostProgress(UM_CURRENT_PROGRESS, position, maximum);
  };
  FFiles.OnTotalProgress = [this](uint32_t position, uint32_t maximum) {
    Post(UM_TOTAL_PROGRESS, position, static_cast<intptr_t>(maximum));
  };
  // An older copy of a file with a chunk index is read once, by the
  // chunked path, which digests it while it cuts it.
  FFiles.DigestLater = [this](const TManifestEntry& entry) { return ChunkRef(entry.File) != nullptr; };
  SetUpMirrors();
  FOutcome.Repair = FEnvironment.Repair;
  FCertificateRefusalsBefore = TlsCertificateRefusals();
  FPlan = ReadUpdateNow();
  const int maxSpeed = FEnvironment.MaxSpeed >= 0 ? FEnvironment.MaxSpeed : ReadMaxSpeed(FEnvironment.LauncherFolder);
  // One cap over every connection of this run: documents, files and chunk ranges.
  const auto limiter = std::make_shared<TRateLimiter>(static_cast<int64_t>(maxSpeed) * 1024);
  FEnvironment.Document.Limiter = limiter;
  FEnvironment.Batch.Limiter = limiter;
  FEnvironment.Download.Worker.Limiter = limiter;
  Start();
}

TUpdateThread::~TUpdateThread() {
  TerminateAndWait();
  std::lock_guard<std::mutex> guard(FLogLock);
  if (FLogLines.empty()) return;
  try {
    std::string text;
    for (const std::string& line : FLogLines) text += line + "\r\n";
    WriteFileBytes(FEnvironment.LauncherFolder + "UpdateLog.txt", text);
  } catch (const std::exception& e) {
    DebugOutput(std::string("UpdateLog.txt: ") + e.what());
  }
}

void TUpdateThread::TerminatedSet() {
  std::lock_guard<std::mutex> guard(FDocumentLock);
  if (FDocument) FDocument->Abort();
  if (FBatch) FBatch->Abort();
}

void TUpdateThread::Log(const std::string& text) {
  const std::string line = LogTimestamp() + text;
  {
    std::lock_guard<std::mutex> guard(FLogLock);
    FLogLines.push_back(line);
  }
  DebugOutput(line);
}

void TUpdateThread::ShowStatus(const std::string& text) {
  Log(text);
  FWindow.Post(UM_STATUS_TEXT, NewPostedText(text), static_cast<intptr_t>(text.size()));
}

void TUpdateThread::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) { FWindow.Post(message, wParam, lParam); }

void TUpdateThread::PostProgress(uint32_t message, int64_t position, int64_t maximum) {
  const TProgressPair pair = ScaleProgress(position, maximum);
  Post(message, pair.position, static_cast<intptr_t>(pair.maximum));
}

void TUpdateThread::PostTotalBytes(int64_t position, int64_t total) {
  std::lock_guard<std::mutex> guard(FTotalLock);
  if (total != FTotalShownOf) {
    FTotalShownOf = total;
    FTotalShown = 0;
  }
  FTotalShown = std::max(FTotalShown, position);
  PostProgress(UM_TOTAL_PROGRESS, FTotalShown, total);
}

// The window shows received / milliseconds: both are halved together while
// the byte count would not fit, which keeps the speed.
void TUpdateThread::PostSpeed(int64_t received, uint32_t elapsedMs) {
  uint32_t ms = elapsedMs;
  while (received > INT32_MAX) {
    received >>= 1;
    ms = ms > 1 ? ms >> 1 : ms;
  }
  Post(UM_DOWNLOAD_SPEED, static_cast<uintptr_t>(received < 0 ? 0 : received), static_cast<intptr_t>(ms));
}

int TUpdateThread::ReadUpdateNow() const { return ::ReadUpdateNow(FEnvironment.LauncherFolder); }
// A launcher.ini that cannot be written (a full disk) is logged; it does not
// turn a run whose manifest was read into a failed one.
void TUpdateThread::WriteUpdateNow(int value) {
  try {
    ::WriteUpdateNow(FEnvironment.LauncherFolder, value);
  } catch (const std::exception& e) {
    Log(std::string("UpdateNow not written: ") + e.what());
  }
}

std::string TUpdateThread::DownloadHostName() const {
  if (!FEnvironment.DownloadHost.empty()) return FEnvironment.DownloadHost;
  THttpHeader base;
  base.SetRequest("GET", UrlSlashes(FBaseUrl));
  return base.Host();
}

// --- the run -------------------------------------------------------------

void TUpdateThread::Execute() {
  TRunEnd end = TRunEnd::DocumentWrongShape;
  try {
    end = Run();
  } catch (const std::exception& e) {
    // A document of the wrong shape ends the run as an error of the thread.
    Log(std::string("update run ended: ") + e.what());
  }
  std::unique_ptr<THttpBatch> batch;
  {
    std::lock_guard<std::mutex> guard(FDocumentLock);
    batch.swap(FBatch);
  }
  batch.reset();
  if (FFiles.StateChanged()) FFiles.SaveState();
  Finish(end);
  if (!Cancelled()) Post(UM_UPDATE_DONE, RunWentThrough(end) ? 1 : 0, FMode);
}

void TUpdateThread::Finish(TRunEnd end) {
  TRepairFigures figures;
  figures.Checked = FFiles.FilesChecked();
  figures.Repaired = FRepaired;
  // Every transport's connections share the run's limiter, which counts what they received.
  if (FEnvironment.Document.Limiter) figures.BytesFetched = FEnvironment.Document.Limiter->Received();
  if (Cancelled()) end = TRunEnd::Cancelled;
  else if (Refused()) end = TRunEnd::SignatureRefused;
  else if (FDiskShort) end = TRunEnd::DiskShort;
  // A run that got no manifest because a certificate was refused says so.
  const bool failed = end == TRunEnd::ManifestNotFetched || end == TRunEnd::ManifestUnreadable ||
                      end == TRunEnd::DocumentWrongShape;
  if (failed && TlsCertificateRefusals() > FCertificateRefusalsBefore) end = TRunEnd::CertificateRefused;
  // A repair's last log line says what it did.
  if (FEnvironment.Repair && RunWentThrough(end)) Log(RepairSummary(figures));
  std::lock_guard<std::mutex> guard(FOutcomeLock);
  FOutcome.Figures = figures;
  FOutcome.End = end;
  FOutcome.Verdict = FVerdict;
  FOutcome.StillWrong = FStillWrongFiles;
}

TRunOutcome TUpdateThread::Outcome() const {
  std::lock_guard<std::mutex> guard(FOutcomeLock);
  return FOutcome;
}

int TUpdateThread::FilesStillWrong() const {
  const TRunOutcome outcome = Outcome();
  return RunWentThrough(outcome.End) ? static_cast<int>(outcome.StillWrong.size()) : -1;
}

TRunEnd TUpdateThread::Run() {
  TRunEnd end = Documents();
  // A repair checks and fetches file by file, whatever UpdateNow says.
  int plan = FEnvironment.Repair ? 1 : FPlan;
  TDownloadList list;
  if (end == TRunEnd::Running) end = Compare(plan, list);
  // Nothing is written when the files cannot all fit.
  if (end == TRunEnd::Running && plan == 1 && !list.empty() && !RoomForDownloads(list)) end = TRunEnd::DiskShort;
  if (end == TRunEnd::Running) end = FetchAll(plan, list);
  if (end != TRunEnd::Running) return end;
  ReportStillWrong(list);
  if (FEnvironment.Repair) ReportExtraFiles();
  WriteUpdateNow(0);
  return FStillWrongFiles.empty() ? TRunEnd::Done : TRunEnd::FilesStillWrong;
}

TRunEnd TUpdateThread::Documents() {
  // A key that cannot be read must not quietly turn into no key at all.
  if (FKeyInvalid) {
    Log("the package's public key is not a key text: " + FEnvironment.PublicKey);
    ShowStatus(UpdateText::KeyInvalid);
    return TRunEnd::KeyInvalid;
  }
  ShowStatus(UpdateText::Checking);
  if (!FetchManifest()) {
    if (Cancelled() || Refused()) return TRunEnd::Cancelled;
    Log(UpdateText::NetworkFault);
    ShowStatus(std::string(UpdateText::NetworkFault) + UpdateText::TryLater);
    return TRunEnd::ManifestNotFetched;
  }
  if (!FFiles.LoadManifest()) return TRunEnd::ManifestUnreadable;
  // A repair trusts no recorded time: the state is written anew from what
  // the compare finds on disk.
  if (FEnvironment.Repair) FFiles.SetStateChanged();
  else FFiles.LoadState();
  return Cancelled() ? TRunEnd::Cancelled : TRunEnd::Running;
}

TRunEnd TUpdateThread::Compare(int& plan, TDownloadList& list) {
  if (plan == 0) {
    WriteUpdateNow(FFiles.CompareFiles(list));
    plan = 1;
  } else if (plan != 2) {
    FFiles.CompareFiles(list);
  }
  if (Cancelled()) return TRunEnd::Cancelled;
  // An unpacked full package is held to the manifest like any other files:
  // the compare finds what it brought wrong or left out.
  if (plan == 2) {
    if (!DownloadFullPackage() && (Cancelled() || Refused() || FDiskShort)) return TRunEnd::Cancelled;
    plan = 1;
    FFiles.DiskChanged();
    FFiles.CompareFiles(list);
    if (Cancelled()) return TRunEnd::Cancelled;
  }
  return TRunEnd::Running;
}

std::vector<TFilePlan> TUpdateThread::Plans(int plan, const TDownloadList& list) {
  std::vector<TFilePlan> plans;
  plans.reserve(list.size());
  // The batch connects by the URL's host name: files of a run that reached
  // its server by address go through the engine.
  const bool batchOpen = FEnvironment.BatchConnections > 0 && FServerAddress.empty();
  for (const TDownloadItem& item : list) {
    TFileFacts facts;
    facts.RunPlan = plan;
    facts.Size = item.Size;
    facts.IsZip = item.IsZip;
    facts.IsLauncher = item.isLauncher != 0;
    facts.HasChunkIndex = ChunkRef(item.File) != nullptr;
    facts.BatchOpen = batchOpen;
    facts.BatchSizeLimit = BatchSizeLimit;
    plans.push_back(PlanFile(facts));
  }
  return plans;
}

// Up to three passes over what is still wrong. Items of a plan that
// downloads nothing leave the list without being fetched: they are still
// wrong all the same.
TRunEnd TUpdateThread::FetchAll(int plan, TDownloadList& list) {
  TDownloadList notFetched;
  for (int pass = 0; pass < 3 && !list.empty(); ++pass) {
    const std::vector<TFilePlan> plans = Plans(plan, list);
    const std::vector<int> jobs = QueueSmallFiles(list, plans);
    const int n = static_cast<int>(list.size());
    for (int k = 1; k <= n; ++k) {
      if (Cancelled()) return TRunEnd::Cancelled;
      const size_t index = static_cast<size_t>(n - k);
      const bool skipped = plans[index].Way == TFileWay::NotFetched;
      if (skipped) notFetched.push_back(list[index]);
      if (skipped || DownloadFile(list[index], plans[index], k, n, jobs[index]))
        list.erase(list.begin() + static_cast<long>(index));
    }
  }
  list.insert(list.end(), notFetched.begin(), notFetched.end());
  return TRunEnd::Running;
}

// Data that could not be written. Only a disk without room for the file
// makes the status line name the file and ask for disk space (and the
// run's last status line repeat it); any other cause (access denied, a name
// the system refuses, a file held open) keeps the run's own lines, and the
// log line names the cause as the system gave it.
void TUpdateThread::ReportWriteFailure(const std::string& localPath, int64_t size) {
  const std::string name = RelativeTo(FEnvironment.LauncherFolder, localPath);
  const int64_t free = FreeDiskBytes(FEnvironment.LauncherFolder);
  if (free < 0 || free >= std::max<int64_t>(size, 0) + DiskRoomMargin) {
    Log(Format("%s not written; the disk has room (%lld bytes free), see the cause above", name.c_str(),
               static_cast<long long>(free)));
    return;
  }
  FWriteFailure = Format(UpdateText::WriteFailed, name.c_str());
  ShowStatus(FWriteFailure);
}

// The window hears success all the same (the player may log in); the log
// and FilesStillWrong say what is left for the next start. The status line
// must not stay on "downloading" or "verifying" for a file that failed: it
// ends on the last write failure, which says most, or else names the first
// file left. Entries the compare refused (an unsafe name, a second entry for
// one file) are needed files that are not right either.
void TUpdateThread::ReportStillWrong(const TDownloadList& list) {
  const std::vector<std::string>& refused = FFiles.Refused();
  FStillWrongFiles.clear();
  for (const TDownloadItem& item : list) FStillWrongFiles.push_back(item.File);
  for (const std::string& file : refused) FStillWrongFiles.push_back(file + " (refused)");
  const int count = static_cast<int>(FStillWrongFiles.size());
  if (count == 0) return;
  Log(Format("%d file(s) still missing or wrong after the update passes:", count));
  for (const std::string& file : FStillWrongFiles) Log("  " + file);
  const std::string& first = list.empty() ? refused.front() : list.front().File;
  ShowStatus(FWriteFailure.empty() ? UpdateText::DownloadFileLead + first + UpdateText::FailedTryLater : FWriteFailure);
}

// --- downloads -----------------------------------------------------------

bool TUpdateThread::Download(const std::string& url, const std::string& localPath, int workers, int64_t expectedSize,
                             const std::string& md5) {
  THttpDownload download(workers, FEnvironment.Download);
  download.SetExpectedDigest(md5);
  // The manifest names the file, never the server's answer.
  download.SetTargetName(ExtractFileName(localPath));
  if (!FServerAddress.empty()) download.SetAddresses({FServerAddress});
  const int64_t done = FFiles.BytesDone(), total = FFiles.BytesTotal();
  download.OnReceived = [this, done, total](THttpDownload&, uint32_t elapsedMs, int64_t, int64_t received) {
    PostTotalBytes(done + received, total);
    PostSpeed(received, elapsedMs);
  };
  download.OnWritten = [this](THttpDownload&, uint32_t, int64_t fileTotal, int64_t written) {
    PostProgress(UM_CURRENT_PROGRESS, written, fileTotal);
  };
  const std::string folder = ExtractFilePath(localPath);
  ForceDirectories(folder);
  PostTotalBytes(done, total);
  PostSpeed(0, 0);
  Log(UpdateText::DownloadLog + UrlSlashes(url));
  const TDownloadOutcome outcome =
      RunDownload(download, url, folder, expectedSize, [this] { return !Cancelled(); }, FEnvironment.PollMs);
  if (outcome == TDownloadOutcome::Failed || outcome == TDownloadOutcome::NotStarted) {
    Log(download.ErrorText());
    if (download.WriteFailed()) ReportWriteFailure(localPath, expectedSize);
  }
  return outcome == TDownloadOutcome::Done;
}

TArchiveHooks TUpdateThread::ArchiveHooks() {
  TArchiveHooks hooks;
  hooks.OnStartEntry = [this](int index, const std::string& target, int entryCount, bool& skip) {
    skip = Cancelled();
    if (!skip) ShowStatus(EntryStartStatus(target, index, entryCount));
  };
  hooks.OnFilePercent = [this](int percent) { PostProgress(UM_CURRENT_PROGRESS, percent, 100); };
  hooks.OnTotalPercent = [this](int percent) { PostProgress(UM_TOTAL_PROGRESS, percent, 100); };
  hooks.OnStatus = [this](const std::string& text) { ShowStatus(text); };
  hooks.IsCancelled = [this] { return Cancelled(); };
  return hooks;
}

std::vector<int> TUpdateThread::QueueSmallFiles(const TDownloadList& list, const std::vector<TFilePlan>& plans) {
  std::vector<int> jobs(list.size(), -1);
  for (size_t k = list.size(); k-- > 0;) {
    const TDownloadItem& item = list[k];
    if (plans[k].Way != TFileWay::Batch) continue;
    std::lock_guard<std::mutex> guard(FDocumentLock);
    if (Cancelled()) break;
    if (!FBatch) {
      FBatch = std::make_unique<THttpBatch>(FEnvironment.BatchConnections, FEnvironment.Batch);
      FBatchBytes = 0;
      FBatchStartTick = GetTickCount32();
    }
    TBatchJob job;
    job.Url = UrlSlashes(FBaseUrl + "/" + DownloadName(item));
    job.TargetPath = FetchPath(DownloadPath(FEnvironment.LauncherFolder, item), SignedRun());
    job.ExpectedSize = item.Size;
    job.Md5 = ExpectedDigest(item, SignedRun());
    jobs[k] = FBatch->Add(job);
  }
  return jobs;
}

// The same lines and progress posts as a download through the engine; the
// file itself was checked and placed by the batch.
bool TUpdateThread::FetchedByBatch(int job, const std::string& url, const std::string& localPath,
                                   const TDownloadItem& item) {
  const int64_t done = FFiles.BytesDone(), total = FFiles.BytesTotal();
  PostTotalBytes(done, total);
  PostSpeed(0, 0);
  Log(UpdateText::DownloadLog + UrlSlashes(url));
  TBatchResult result;
  for (;;) {
    result = FBatch->Wait(job, FEnvironment.PollMs * 10);
    if (result.Outcome != TBatchOutcome::Pending) break;
    if (Cancelled()) return false;
  }
  switch (result.Outcome) {
    case TBatchOutcome::Done:
      FBatchBytes += item.Size;
      PostProgress(UM_CURRENT_PROGRESS, item.Size, item.Size);
      PostTotalBytes(done + item.Size, total);
      PostSpeed(FBatchBytes, GetTickCount32() - FBatchStartTick);
      return true;
    case TBatchOutcome::UseEngine:
      Log(result.ErrorText);
      return Download(url, localPath, EngineWorkers(item), item.Size, ExpectedDigest(item, SignedRun()));
    case TBatchOutcome::WriteFailed:
      Log(result.ErrorText);
      ReportWriteFailure(localPath, item.Size);
      return false;
    default:
      if (!result.ErrorText.empty()) Log(result.ErrorText);
      return false;
  }
}

// The launcher's own entry is fetched into a folder of its own and then
// moved to <base>.update: fetched in place it would replace the running
// program when the manifest names it by the program's own file name. The
// folder goes again once it is empty.
bool TUpdateThread::DownloadFile(const TDownloadItem& item, const TFilePlan& plan, int k, int n, int job) {
  const std::string name = DownloadName(item);
  const bool self = item.isLauncher != 0;
  const std::string staging = StagingFolder(FEnvironment.LauncherFolder);
  const std::string localPath = DownloadPath(FEnvironment.LauncherFolder, item);
  const std::string placed = self ? staging + ExtractFileName(item.File) : FEnvironment.LauncherFolder + item.File;
  ClearPlace(item);
  // A repair's copy that was left undigested is checked first: it may be right.
  const bool checkFirst = FEnvironment.Repair && item.CheckFirst;
  ShowStatus(Format(checkFirst ? UpdateText::RepairChecking : UpdateText::DownloadingFile, name.c_str(), k, n));
  const std::string url = FBaseUrl + "/" + name;
  const std::string fetchPath = FetchPath(localPath, SignedRun());
  bool fetched;
  bool copyWasRight = false;
  if (plan.Way == TFileWay::Batch && job >= 0) {
    fetched = FetchedByBatch(job, url, fetchPath, item) && Checked(item, fetchPath, localPath);
  } else if (plan.Way == TFileWay::Chunks && ChunkedDownload(item, url, localPath, copyWasRight)) {
    fetched = true;
  } else {
    fetched = !Cancelled() &&
              Download(url, fetchPath, EngineWorkers(item), item.Size, ExpectedDigest(item, SignedRun())) &&
              Checked(item, fetchPath, localPath);
  }
  // Every transport compares a plain file's digest with the manifest's
  // before the file replaces its target, and so does the unpacking of an
  // archive's file: the verify need not read it once more.
  const bool ok = fetched && Unpacked(item, localPath, name) &&
                  Placed(item, placed, self || item.Size <= 0 ? std::string() : DigestText(item.Hash));
  if (self) RemoveEmptyDirectory(staging);
  if (!ok) return false;
  FFiles.AddBytesDone(item.Size);
  if (!copyWasRight) ++FRepaired;
  return true;
}

void TUpdateThread::ClearPlace(const TDownloadItem& item) {
  if (item.isLauncher != 0) return;
  const std::string path = FEnvironment.LauncherFolder + item.File;
  if (DirectoryExists(path)) {
    const std::string aside = AsideName(path, [](const std::string& name) {
      return FileExists(name) || DirectoryExists(name);
    });
    const std::string name = RelativeTo(FEnvironment.LauncherFolder, aside);
    if (RenameFolderAt(path, aside)) Log(item.File + ": a folder stood in the file's place; moved aside to " + name);
    else Log(item.File + ": a folder stands in the file's place and cannot be moved aside: " + LastFileErrorText());
  }
  if (IsReadOnly(path)) {
    if (MakeWritable(path)) Log(item.File + ": the copy was read-only; made writable to replace it");
    else Log(item.File + ": the read-only copy cannot be made writable: " + LastFileErrorText());
  }
}

void TUpdateThread::ReportExtraFiles() {
  std::set<std::string> named;
  const auto nameAll = [&](const TManifest& manifest) {
    try {
      for (size_t i = 0; i < manifest.Count(); ++i) {
        const TManifestEntry entry = manifest.Entry(i);
        named.insert(WindowsPathKey(entry.File));
        named.insert(WindowsPathKey(FFiles.LocalName(entry)));
      }
    } catch (const EUpdateJsonError&) {
      // Entries after a mistyped one name nothing a run took.
    }
  };
  nameAll(FFiles.Manifest());
  // The other run's files (the launcher's beside the game's) are no
  // player's either: its last accepted manifest copy names them.
  const std::string other = FManifestName == "updateL.json" ? "update.json" : "updateL.json";
  try {
    TManifest manifest;
    if (ReadManifestCopy(FEnvironment.LauncherFolder + "data\\" + other, manifest)) nameAll(manifest);
  } catch (const EFileError& error) {
    Log(other + " not read: " + error.what());
  }
  for (const std::string& file :
       ExtraFiles(FilesBelow(FEnvironment.LauncherFolder), named, FEnvironment.LauncherBaseName))
    Log("extra file (not in the manifest, kept): " + file);
}

bool TUpdateThread::Checked(const TDownloadItem& item, const std::string& fetched, const std::string& localPath) {
  if (fetched == localPath) return true;
  // A cancelled check leaves nothing either: the next run starts the file anew.
  if (!Sha256Agrees(fetched, item.IsZip ? item.ZipSha256 : item.Sha256, DownloadName(item), "the signed manifest")) {
    DeleteFileAt(fetched);
    return false;
  }
  if (RenameWithRetries(fetched, localPath, FEnvironment.Download.RenameRetries, FEnvironment.Download.RenameRetryMs,
                        [this] { return Cancelled(); }))
    return true;
  Log(DownloadName(item) + ": cannot replace the file: " + LastFileErrorText());
  DeleteFileAt(fetched);
  return false;
}

bool TUpdateThread::Sha256Agrees(const std::string& path, const std::string& sha256, const std::string& name,
                                 const char* source) {
  const std::string digest = Sha256OfFile(path, [this] { return Cancelled(); });
  if (digest == sha256 || Cancelled()) return digest == sha256;
  Log(Format("%s: SHA-256 %s, %s says %s", name.c_str(), digest.c_str(), source, sha256.c_str()));
  DeleteFileAt(path);
  return false;
}

// Only the archive's entry for File is unpacked, and only when its digests
// are the manifest's; an archive of another size is not opened at all.
bool TUpdateThread::Unpacked(const TDownloadItem& item, const std::string& localPath, const std::string& name) {
  if (!item.IsZip) {
    ShowStatus(UpdateText::Verifying + name + " ...");
    return true;
  }
  bool ok = false;
  if (GetFileSize(localPath) != item.Size) {
    Log(item.File + UpdateText::UnpackLength);
  } else {
    const TArchiveEntryCheck check{item.File, item.Hash, SignedRun() ? item.Sha256 : std::string()};
    const TArchiveResult extracted = ExtractFileArchive(localPath, ExtractFilePath(localPath), check, ArchiveHooks());
    if (!extracted.error.empty()) Log(item.File + ": " + extracted.error);
    // The room an unpacked file needs is its own size, not the archive's.
    if (extracted.writeFailed)
      ReportWriteFailure(FEnvironment.LauncherFolder + item.File, std::max<int64_t>(item.Size, extracted.unpackedSize));
    ok = extracted.filesExtracted > 0;
    if (!ok) Log(item.File + UpdateText::UnpackFailed);
  }
  DeleteFileAt(localPath);
  ShowStatus(UpdateText::Verifying + name + " ...");
  return ok;
}

// Verifies the file where it ended up and, for the launcher's own entry,
// renames it over <base>.update (never deleting that first).
bool TUpdateThread::Placed(const TDownloadItem& item, const std::string& placed, const std::string& written) {
  bool ok;
  if (item.isLauncher != 0) {
    const std::string update = FEnvironment.LauncherBaseName + ".update";
    const bool right = MD5OfFile(placed) == item.Hash;
    const bool renamed = right && RenameFileAt(placed, FEnvironment.LauncherFolder + update);
    if (right && !renamed) Log(item.File + ": not renamed to " + update + ": " + LastFileErrorText());
    ok = renamed && FFiles.VerifyFile(update, item.Hash);
    DeleteFileAt(placed);  // a copy that is not right must not stay behind
  } else {
    ok = FFiles.VerifyFile(item.File, item.Hash, written);
  }
  if (!ok) Log(Format("%s %s md5=%s", item.File.c_str(), UpdateText::WrongMd5, item.Hash.c_str()));
  return ok;
}

bool TUpdateThread::DownloadFullPackage() {
  ShowStatus(UpdateText::FullPackage);
  // From the first mirror that serves a release document the run takes.
  TReleaseDocument release;
  TMirrorDocument document;
  document.Name = document.Suffix = document.Signed = ReleaseDocumentName;
  document.Address = FServerAddress;
  document.Lead.clear();
  document.Options = FEnvironment.Document;
  document.Check = [&release](const std::string& body) {
    return ReadReleaseDocument(body, release) ? std::string() : std::string("is not a release document");
  };
  if (!FetchFromMirrors(document)) {
    if (!Cancelled() && !Refused()) Log(UpdateText::UpdateFailed);
    return false;
  }
  if (FKey) RecordAccepted(ReleaseDocumentName, document.Version);
  const std::string localName =
      release.isLauncher != 0 ? FEnvironment.LauncherBaseName + ".update" : release.File;
  const std::string localPath = FEnvironment.LauncherFolder + localName;
  // Room for the package itself; what unpacking it takes is not known
  // before it is here (it replaces files in place).
  if (!RoomFor(release.Size - std::max<int64_t>(GetFileSize(localPath), 0))) return false;
  FFiles.SetByteCounts(0, release.Size);
  PostProgress(UM_TOTAL_PROGRESS, 0, release.Size);
  // A package already on disk is unpacked, and the compare then fetches
  // whatever an older package did not bring.
  // A signed run unpacks only the package the signed document names.
  const auto unpackable = [&] {
    return !SignedRun() ||
           Sha256Agrees(localPath, release.Sha256, ExtractFileName(localPath), "the signed release document");
  };
  if (FileExists(localPath) && unpackable() && ExtractPackage(localPath, ArchiveHooks())) return false;

  const std::string url = UrlSlashes(FBaseUrl + "complete/" + release.File);
  ShowStatus(UpdateText::Downloading + ExtractFileName(localName));
  const bool downloaded = Download(url, localPath, 5, release.Size, release.MD5);
  if (Cancelled()) return false;
  if (!downloaded) {
    ShowStatus(UpdateText::DownloadFileLead + localName + UpdateText::FailedTryLater);
    return false;
  }
  if (!FileExists(localPath)) return false;
  if (unpackable() && ExtractPackage(localPath, ArchiveHooks())) return true;
  if (Cancelled()) return false;
  ShowStatus(UpdateText::VerifyingPackage);
  if (!SameDigestIgnoringCase(MD5OfFile(localPath), release.MD5)) {
    ShowStatus(localName + UpdateText::PackageWrong);
    DeleteFileAt(localPath);
  }
  return false;
}

std::vector<TManifestEntry> TUpdateThread::AcceptedLauncherEntries() const {
  // The manifest copy is loaded only once this run has fetched and accepted it.
  std::vector<TManifestEntry> entries;
  const TManifest& manifest = FFiles.Manifest();
  try {
    for (size_t i = 0; i < manifest.Count(); ++i) {
      TManifestEntry entry = manifest.Entry(i);
      if (entry.isLauncher != 0 && entry.Need) entries.push_back(std::move(entry));
    }
  } catch (const EUpdateJsonError&) {
    // Entries after a mistyped one were never taken by the run either.
  }
  return entries;
}
