// THttpDownload: one file over HTTP into a folder, with several connections
// fetching byte ranges in parallel and resume across runs. A one-byte probe
// learns the size and whether ranges work; ranges go to the workers; a
// background writer puts the data into name + ".!tmp"; name + ".!dl" keeps
// what is still missing, checkpointed while the download runs; at the end the
// temporary file is checked (every byte written, its size, its MD5 when the
// owner gave one) and only then renamed over the target.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/BGFileStream.h"
#include "http/DownloadChunk.h"
#include "http/HttpWorker.h"
#include "http/ResumeRecord.h"

// A download that writes no new byte for this long has failed: the owner's
// passes then end in bounded time however the server misbehaves.
constexpr uint32_t DownloadNoProgressMs = 60000;

// The expected size of a download whose size the caller does not know; 0 is
// an empty file.
constexpr int64_t UnknownDownloadSize = -1;

class TRangeList;

struct TDownloadOptions {
  // A worker silent for longer than this is replaced (Poll).
  uint32_t WatchdogMs = 10000;
  uint32_t RenameRetries = 100;
  uint32_t RenameRetryMs = 100;
  // A gzip or deflate file never inflates beyond this.
  uint64_t MaxInflatedSize = 16ull << 30;
  size_t WriterQueueLimit = TBGFileStream::DefaultQueueLimit;
  // No byte written for this long, or no answer that brought a useful
  // amount (UsefulAnswerBytes), fails the download.
  uint32_t NoProgressMs = DownloadNoProgressMs;
  // Workers restarted (a failed range handed out again, a silent worker
  // replaced) this many times in a row, with no answer between them that
  // brought UsefulAnswerBytes (or the whole rest of its range), fail it: a
  // server that drips a few bytes on each connection and then stalls would
  // otherwise keep the download going for ever.
  int MaxRestartsWithoutProgress = 25;
  int64_t UsefulAnswerBytes = 64 << 10;
  // The resume file is written again after this long or this many bytes,
  // whichever comes first (but not more often than CheckpointMinMs), so a
  // killed process fetches at most about that much again.
  uint32_t CheckpointMs = 2000;
  int64_t CheckpointBytes = 8 << 20;
  uint32_t CheckpointMinMs = 100;
  THttpWorkerOptions Worker;
};

class THttpDownload : private THttpWorkerEvents {
public:
  enum TState : uint8_t { Idle = 0, Started = 1, Running = 2, Stopping = 4, Failed = 5 };

  explicit THttpDownload(int workers, const TDownloadOptions& options = TDownloadOptions());
  // Stops everything and keeps the resume information: the pending ranges
  // go to ".!dl", the data so far stays in ".!tmp".
  ~THttpDownload() override;

  // Callbacks; done, error and received run on worker threads (error also
  // on the owner's thread from Poll), written on the writer thread.
  std::function<void(THttpDownload&)> OnDone;
  std::function<void(THttpDownload&)> OnError;
  std::function<void(THttpDownload&, uint32_t elapsedMs, int64_t total, int64_t received)> OnReceived;
  std::function<void(THttpDownload&, uint32_t elapsedMs, int64_t total, int64_t written)> OnWritten;

  // Server addresses handed to the workers round robin.
  void SetAddresses(const std::vector<std::string>& addresses);
  // Accepted only when idle and when the file has a plain name (false, with
  // the reason as the error text, otherwise). `folder` ends with a
  // separator; empty keeps the current folder. `expectedSize` bounds the
  // file (0: an empty one); UnknownDownloadSize when not known.
  bool Start(const std::string& url, const std::string& folder, int64_t expectedSize);
  // A list of ranges of a file of known size instead (the chunk fetch): no
  // probe, no files of its own; each range goes to the list's sink as it
  // arrives, the requests for a connection's next ranges are sent ahead of
  // its answers, and OnDone fires once every range is in. The list must
  // outlive the download.
  bool StartList(const std::string& url, TRangeList& list);
  // The watchdog: the owner calls it about every 10 ms. It also fails a
  // download without progress and writes the resume checkpoints.
  void Poll();
  // The MD5 the finished file must have (32 hexadecimal digits, any case);
  // empty: only its size is checked. Set before Start.
  void SetExpectedDigest(const std::string& md5) { FExpectedMd5 = md5; }
  // The name the file is stored under in the folder; set before Start.
  // Empty: the file name of the request URL. What a server answers (a
  // "Content-Location", a redirect) never names the stored file.
  void SetTargetName(const std::string& name) { FTargetName = name; }
  // True when the download failed because its data could not be written.
  bool WriteFailed() const { return FWriteFailed.load(); }

  TState State() const { return FState.load(); }
  int WorkerCount() const { return FWorkerCount.load(); }
  int64_t TotalSize() const { return FTotalSize.load(); }
  int64_t BytesReceived() const { return FReceived.load(); }
  int64_t BytesWritten() const { return FWritten.load(); }
  // Bytes that an earlier run had already written (0 on a fresh start).
  int64_t ResumedBytes() const { return FResumed.load(); }
  std::string FileName() const;
  std::string TargetPath() const;
  std::string ErrorText() const;
  std::string ServerTime() const;
  // Requests the workers sent before the answer ahead of them came.
  int RequestsSentAhead();

  // The file name a URL names: after the last "/" or "\", before its last
  // "?" (or after it, when the part before holds "&" past its first
  // character).
  static std::string FileNameFromUrl(const std::string& url);

private:
  int WorkerHeader(THttpWorker& worker) override;
  bool WorkerData(THttpWorker& worker, std::vector<char>& block, int64_t position) override;
  void WorkerDone(THttpWorker& worker) override;
  void WorkerFailed(THttpWorker& worker) override;

  int HeaderOk(THttpWorker& worker);
  // The answers of a list of ranges.
  int ListHeader(THttpWorker& worker);
  void ListDone(THttpWorker& worker);
  void ListFailed(THttpWorker& worker);
  int HeaderPartial(THttpWorker& worker);
  bool TakeFromBusiest(THttpWorker& idle, TByteRange& range);
  int HeaderMoved(THttpWorker& worker, bool keepRange);
  bool InitFile(THttpWorker& worker, bool firstAnswer, bool withRanges);
  bool Resume();
  void FreshStart();
  bool OpenWriter(bool truncateToTotal);
  void StartRanges();
  bool GiveNextRange(THttpWorker& worker, const char* logFormat);
  void GiveRange(THttpWorker& worker, const TByteRange& range, size_t mirror, const char* logFormat);
  void Finish(THttpWorker* by = nullptr);
  // The checked file that may replace the target ("" and `failure` set when
  // it must not).
  std::string VerifiedCandidate(std::string& failure);
  bool InflateTemporary(int windowBits, const std::string& target);
  void Fail(const std::string& text);
  void WriterFailed(int64_t position, const std::string& reason);
  // Counts a worker restart; false (and the download failed) past the bound.
  bool CountRestart();
  // Writes the resume file when the interval has passed; owner's thread.
  void Checkpoint();
  bool BoundWholeBody(THttpWorker& worker);
  std::shared_ptr<TBGFileStream> Writer();
  std::shared_ptr<TResumeRecord> Record();
  // Calls OnError once per download, with the error text set before.
  void RaiseError();
  std::atomic<bool> FErrorRaised{false};
  THttpWorker& CreateWorker(int slot);
  std::string PathOf(const char* suffix) const;
  uint32_t Elapsed() const;
  void SetFileName(const std::string& name);
  void SetError(const std::string& text);

  const TDownloadOptions FOptions;
  std::atomic<TState> FState{Idle};
  std::atomic<int> FWorkerCount;
  std::atomic<int> FIdleWorkers{0};
  std::atomic<int64_t> FTotalSize{0};
  std::atomic<int64_t> FReceived{0};
  std::atomic<int64_t> FWritten{0};
  std::atomic<int64_t> FResumed{0};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FPlaced{false};
  std::atomic<bool> FWriteFailed{false};
  std::atomic<int> FRestarts{0};
  std::atomic<uint32_t> FProgressTick{0};
  // When an answer last brought a useful amount (see UsefulAnswerBytes).
  std::atomic<uint32_t> FUsefulTick{0};
  int64_t FExpectedSize = UnknownDownloadSize;
  // Body bytes a whole-file (200) answer may bring; negative: no bound of
  // the run.
  std::atomic<int64_t> FBodyLimit{-1};
  std::string FExpectedMd5;
  std::string FTargetName;
  // The file name the first ranged answer came from; later ranges must come
  // from a file of the same name. Guarded by FLock.
  std::string FServedName;
  uint32_t FCheckpointTick = 0;
  int64_t FCheckpointWritten = 0;
  uint32_t FStartTick = 0;
  std::string FUrl;
  std::string FFolder;
  mutable std::mutex FTextLock;  // file name, server time, error text
  std::string FFileName;
  std::string FServerTime;
  std::string FErrorText;
  int FContentCoding = 0;
  std::vector<std::string> FAddresses;
  size_t FNextAddress = 0;
  std::recursive_mutex FLock;  // the failure handling and the worker slots
  std::vector<std::unique_ptr<THttpWorker>> FWorkers;
  std::unique_ptr<TDownLoadChunk> FRanges;
  // The ranges of a chunk fetch (StartList); null for a whole file.
  TRangeList* FList = nullptr;
  // Requests sent ahead by workers the watchdog replaced.
  int FRetiredAhead = 0;
  std::shared_ptr<TBGFileStream> FWriter;
  std::shared_ptr<TResumeRecord> FRecord;
  // --- several mirrors (null FMirrors: one server, as given) ---
  // The mirror each slot's request goes to (NoMirror: none, or idle), and
  // the slots left without work. Guarded by FLock.
  std::shared_ptr<TMirrorSet> FMirrors;
  std::vector<size_t> FSlotMirror;
  std::vector<uint8_t> FSlotIdle;
  // Bytes each mirror delivered of this file; after a failed whole-file
  // check, the mirrors that delivered it and the one it is fetched from again.
  std::vector<int64_t> FDelivered;
  std::vector<size_t> FSuspects;
  size_t FPinned = NoMirror;
  uint32_t FRateTick = 0;
  // The mirror for a slot's next request; NoMirror when the URL is below
  // none, AllMirrorsBusy when every mirror has its share of connections.
  static constexpr size_t AllMirrorsBusy = NoMirror - 1;
  size_t PickMirror();
  std::unique_ptr<THttpHeader> MirrorRequest(const THttpHeader& request, size_t mirror);
  void AimWorker(THttpWorker& worker, size_t mirror);
  // A mirror failed the worker's request: true when it is set aside (the
  // request then goes elsewhere).
  bool SetAsideMirror(THttpWorker& worker, const std::string& why);
  // After a mirror was set aside for an answer: the probe runs again on
  // another mirror (2), a range goes back to the list (0).
  int ProbeElsewhere(THttpWorker& worker);
  std::string ConnectFailure(THttpWorker& worker) const;
  void NoteDelivery(THttpWorker& worker, size_t length);
  void MeasureMirrors();
  // The answer a slot's worker ended counts for its mirror's speed.
  void NoteAnswer(THttpWorker& worker);
  // A mirror's bytes per second over its answers and the requests in
  // hand; `ms` how long that rests on.
  double MirrorSpeed(size_t mirror, uint64_t& ms) const;
  // Connections per mirror, as many as the caller gives one server.
  int FPerMirror = 0;
  // The bytes each slot's worker had read at its last measure, and when.
  std::vector<std::pair<int64_t, uint32_t>> FSlotSample;
  bool TakeOverSlow(THttpWorker& idle, TByteRange& range);
  // The whole file failed its check after mirrors delivered it: fetched
  // again from one of them; false when there is none to try.
  bool Refetch(THttpWorker* by);
  bool FDigestFailed = false;
  std::mutex FWriterLock;  // the writer and the resume record
  std::mutex FCheckpointLock;  // a checkpoint never writes after Finish removed the file
};

enum class TDownloadOutcome { Done, Failed, Stopped, NotStarted };

// The owner's loop: sets OnDone and OnError, starts the download and polls
// it every `pollMs` until one of them fires or `keepGoing` (called between
// polls) says to stop. The download is left to its owner to destroy.
TDownloadOutcome RunDownload(THttpDownload& download, const std::string& url, const std::string& folder,
                             int64_t expectedSize, const std::function<bool()>& keepGoing, uint32_t pollMs = 10);
