// TUpdateThread: one update run. It fetches the manifest (through the
// system resolver and public DNS when the direct request fails), compares
// the local files with it, downloads what is missing or wrong, unpacks and
// verifies, and reports everything by posted messages and its log file.
// The main window runs two: the client run (mode 0) and the launcher run
// (mode 1).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/WindowMessages.h"
#include "http/HttpBatch.h"
#include "http/HttpDownload.h"
#include "http/MirrorSet.h"
#include "http/cHttpSend.h"
#include "platform/Thread.h"
#include "signing/ReleaseCheck.h"
#include "update/manifest/AcceptedVersions.h"
#include "update/chunks/ChunkFields.h"
#include "update/manifest/SignedDocuments.h"
#include "update/run/FilePlan.h"
#include "update/run/RunOutcome.h"
#include "update/run/uLaunchThread.h"

// Where a run works and whom it asks; the defaults are the running program's.
struct TUpdateEnvironment {
  std::string LauncherFolder;    // with its trailing separator; empty: the program's folder
  std::string LauncherBaseName;  // empty: the program's base name
  // The host the manifest fallbacks resolve; empty: the host of the base URL,
  // so the resolvers retry the same server by address.
  std::string DownloadHost;
  TDownloadOptions Download;
  THttpDocumentOptions Document;
  // Files below BatchSizeLimit go through kept-alive connections, this many
  // at once; 0 sends every file through the download engine.
  int BatchConnections = ::BatchConnections;
  TBatchOptions Batch;
  uint32_t PollMs = 10;
  // Compare the room the run needs with the free space of the folder's
  // volume before the first download (off: a volume that reports its free
  // space wrongly).
  bool CheckSpace = true;
  // The package's public key text. Empty: documents are taken unsigned, as
  // always. Otherwise every document the run acts on needs a signature that
  // this key made; a text that is not a key refuses the whole run.
  std::string PublicKey;
  // The cap on the run's downloads in KB/s, over all its connections; 0
  // none; negative: launcher.ini's "maxspeed" in the launcher folder.
  int MaxSpeed = -1;
  // Check every file of the manifest by its content, whatever the state
  // file records, and fetch only what is wrong.
  bool Repair = false;
};

// A document every mirror serves alike (update/run/UpdateThreadDocuments.cpp).
struct TMirrorDocument {
  std::string Name;     // in log lines and set-aside reasons
  std::string Suffix;   // follows each base as it is
  std::string Signed;   // with a key, the name its signature is checked under; empty: none
  std::string Address;  // reach the first mirror alone through this address; empty: all by name
  std::string Lead = "=>";  // the log line before the URL
  bool SlashPath = false;   // every "\" of the URL becomes "/"
  THttpDocumentOptions Options;
  // Why a body (its signature accepted) is not taken; empty when it is.
  std::function<std::string(const std::string& body)> Check;
  // The mirror that gave it, its URL, body and signed version; else the
  // last failure: its reason, the answer's error text and header lines.
  size_t Mirror = 0;
  std::string Url, Body, Why, ErrorText, HeaderLines;
  uint64_t Version = 0;
};

class TUpdateThread : public TThread {
public:
  // Starts the run at once. `stateFile` is "data\update%d.local" of the
  // mode, `manifestName` "update.json" or "updateL.json".
  TUpdateThread(TMessageSink& window, int mode, const std::string& stateFile, const std::string& manifestName,
                const std::string& baseUrl, const TUpdateEnvironment& environment = TUpdateEnvironment());
  // Cancels a running run (aborting a blocked request), waits for it, and
  // writes "UpdateLog.txt".
  ~TUpdateThread() override;

  // The "UpdateNow" value read at construction: 0 compare first, 1
  // incremental update, 2 full package first.
  int UpdatePlan() const { return FPlan; }
  int Mode() const { return FMode; }
  // How the run ended (End is Running until then). The window's messages
  // keep their meaning: a run whose manifest was read reports success
  // (UM_UPDATE_DONE's wParam 1) even when files are still wrong.
  TRunOutcome Outcome() const;
  // Needed files still missing or wrong once the passes ended; -1 while
  // unknown (the run has not got that far, or stopped before).
  int FilesStillWrong() const;
  // Whether the run has refused a document for its signature (any time),
  // and why (once the run has ended).
  bool Refused() const { return FRefused.load(); }
  TSignatureVerdict RefusedVerdict() const { return FVerdict; }
  // The launcher's own entries (isLauncher not 0, needed) of the manifest
  // this run fetched and accepted, its signature checked when the run has a
  // key; none when it accepted no manifest. Read once the run has ended.
  std::vector<TManifestEntry> AcceptedLauncherEntries() const;
  // What each base address of the run delivered, in the package's order;
  // read once the run has ended.
  std::vector<TMirrorReport> MirrorReports() const { return FMirrors->Reports(); }

  // A line of the run's log (also to the debug output); any thread.
  void Log(const std::string& text);
  // Log, then UM_STATUS_TEXT with a copy for the window.
  void ShowStatus(const std::string& text);

  // "UpdateNow" in launcher.ini of the launcher folder.
  int ReadUpdateNow() const;
  void WriteUpdateNow(int value);

protected:
  void Execute() override;
  void TerminatedSet() override;
  std::string ThreadName() const override { return "TUpdateThread"; }

private:
  // The run's stages, each returning TRunEnd::Running to go on: the
  // documents (manifest, its copy, the state), the compare (and the full
  // package when the plan says so), then per pass a plan per file, the
  // fetches, and the place-and-verify of each.
  TRunEnd Run();
  TRunEnd Documents();
  TRunEnd Compare(int& plan, TDownloadList& list);
  TRunEnd FetchAll(int plan, TDownloadList& list);
  std::vector<TFilePlan> Plans(int plan, const TDownloadList& list);
  // The run's end with what it found, kept for Outcome().
  void Finish(TRunEnd end);
  // Splits the run's base text into its mirrors (update/run/UpdateThreadDocuments.cpp).
  void SetUpMirrors();
  bool FetchManifest();
  bool FetchThroughAddresses(std::vector<std::string>& addresses, const char* logPrefix);
  bool FetchManifestFrom(const std::string& address);
  // The first mirror in order that answers with a document `document` takes;
  // those that failed before it are set aside with their reasons. When none
  // does, a refused signature ends the run as with one mirror.
  bool FetchFromMirrors(TMirrorDocument& document);
  // GET through `document`, which a cancel can abort while it runs.
  bool GetDocument(THttpGetDocument& document, const std::string& url, const std::string& address);
  // `job` is the file's number in the batch, or -1 for the download engine.
  bool DownloadFile(const TDownloadItem& item, const TFilePlan& plan, int k, int n, int job);
  // Makes the file's place ready to take the new file: a folder standing
  // there is moved aside (nothing is deleted), a read-only copy made writable.
  void ClearPlace(const TDownloadItem& item);
  // A repair's list of the files in the folder that no entry names (kept).
  void ReportExtraFiles();
  // Queues the pass's files planned for the batch in the order the pass
  // takes them; their batch numbers by list index (-1 for the others).
  std::vector<int> QueueSmallFiles(const TDownloadList& list, const std::vector<TFilePlan>& plans);
  // Waits for a file of the batch; a file the batch hands back (a
  // redirect) goes through the engine.
  bool FetchedByBatch(int job, const std::string& url, const std::string& localPath, const TDownloadItem& item);
  // One file through the download engine; `md5` (may be empty) is the digest
  // the data must have before it replaces `localPath`.
  bool Download(const std::string& url, const std::string& localPath, int workers, int64_t expectedSize,
                const std::string& md5);
  // A file with a chunk index and an older local copy: only the chunks that
  // copy lacks travel (update/run/UpdateThreadChunks.cpp). False, with the
  // reason logged, when the whole file must come instead.
  // `copyWasRight`: the local copy proved right when it was cut, nothing travelled.
  bool ChunkedDownload(const TDownloadItem& item, const std::string& url, const std::string& localPath,
                       bool& copyWasRight);
  // The chunk index the manifest names for `file`, or null (read from the
  // manifest copy at the first call).
  const TChunkIndexRef* ChunkRef(const std::string& file);
  // Whether the volume of the launcher folder has `needed` bytes free; if
  // not, the status line says how much is needed and free
  // (update/run/UpdateThreadSpace.cpp).
  bool RoomFor(int64_t needed);
  bool RoomForDownloads(const TDownloadList& list);
  // A signed run's check of a file its transports fetched to `fetched`
  // (FetchPath): its SHA-256 (an archive's ZipSha256) against the manifest's,
  // then the rename to `localPath`. True at once when the two are one path.
  bool Checked(const TDownloadItem& item, const std::string& fetched, const std::string& localPath);
  bool SignedRun() const { return FKey.has_value(); }
  // Whether the file at `path` has the SHA-256 that `source` (a signed
  // document) gives; one that has not is deleted and logged under `name`
  // (a cancelled check keeps it).
  bool Sha256Agrees(const std::string& path, const std::string& sha256, const std::string& name, const char* source);
  bool Unpacked(const TDownloadItem& item, const std::string& localPath, const std::string& name);
  bool Placed(const TDownloadItem& item, const std::string& placed, const std::string& written);
  void ReportStillWrong(const TDownloadList& list);
  void ReportWriteFailure(const std::string& localPath, int64_t size);
  bool DownloadFullPackage();
  TFetchedSignature FetchSignature(const std::string& url, const std::string& address);
  // With a key: fetches "<url>.sig" (bounded) and checks `bytes`, the
  // document as fetched, against it; the verdict is logged, not yet shown
  // (none when cancelled). Refuse ends the run with a refusal.
  std::optional<TSignatureVerdict> SignatureVerdict(const std::string& document, const std::string& url,
                                                    const std::string& address, const std::string& bytes,
                                                    uint64_t& version);
  void Refuse(const std::string& document, TSignatureVerdict verdict);
  // Raises the document's mark once the run has taken it.
  void RecordAccepted(const std::string& document, uint64_t version);
  // The signed manifest's version this run accepted: its full package may
  // not be older.
  uint64_t FManifestVersion = 0;
  TArchiveHooks ArchiveHooks();
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam);
  // A position and its maximum, scaled together to fit 31 bits.
  void PostProgress(uint32_t message, int64_t position, int64_t maximum);
  // The total bar of the downloads: bytes of the files done plus what the
  // current one has received. It never moves back while the total stays
  // (a download that failed part-way showed bytes the next file's start
  // does not count); called from the engine's workers too.
  void PostTotalBytes(int64_t position, int64_t total);
  void PostSpeed(int64_t received, uint32_t elapsedMs);
  bool Cancelled() const { return Terminated(); }
  std::string DownloadHostName() const;

  TMessageSink& FWindow;
  const int FMode;
  std::string FBaseUrl;  // the first mirror's base
  std::shared_ptr<TMirrorSet> FMirrors;
  const std::string FManifestName;
  const std::string FStateFile;
  TUpdateEnvironment FEnvironment;
  int FPlan = 0;
  mutable std::mutex FOutcomeLock;
  TRunOutcome FOutcome;
  int FCertificateRefusalsBefore = 0;  // the process's count when the run started
  std::vector<std::string> FStillWrongFiles;
  std::string FWriteFailure;  // the status text of the run's last write failure
  TUpdateFiles FFiles;
  std::optional<TPublicKey> FKey;
  bool FKeyInvalid = false;
  TAcceptedVersions FVersions;
  std::atomic<bool> FRefused{false};
  TSignatureVerdict FVerdict = TSignatureVerdict::Accepted;
  std::mutex FLogLock;
  std::vector<std::string> FLogLines;
  std::mutex FDocumentLock;
  THttpGetDocument* FDocument = nullptr;  // the request in progress, for abort
  // The address the manifest came through when only a resolver's address
  // reached the server: the run's files are fetched there too, since the
  // host name that failed for the manifest fails for them as well. Empty:
  // by name.
  std::string FServerAddress;
  std::unique_ptr<THttpBatch> FBatch;     // guarded by FDocumentLock, for abort
  std::mutex FTotalLock;                  // the highest total posted, for its total
  int64_t FTotalShown = 0, FTotalShownOf = -1;
  int64_t FBatchBytes = 0;
  uint32_t FBatchStartTick = 0;
  // The chunk indexes the manifest names, read on first need.
  std::optional<std::map<std::string, TChunkIndexRef>> FChunkRefs;
  bool FDiskShort = false;
  int FRepaired = 0;  // files fetched again because their copy was wrong
};
