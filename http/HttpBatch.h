// THttpBatch: small files, several at once, over kept-alive connections.
// A game patch is mostly many small files and players are far from the
// server: fetched one by one through THttpDownload, each file pays for a
// probe connection, a second connection for its single range and fresh
// threads and buffers, about three round trips per file. Files below the
// engine's split floor would get one range anyway, so here each is one GET
// on a connection that stays open for the next file, with a few files in
// flight, and once a connection has kept alive, the requests for its next
// files go out before their answers come back. Each file is held in memory,
// checked (size, and MD5 when one is given), written beside its target and
// only then renamed over it.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/HttpConnection.h"
#include "http/MirrorSet.h"
#include "http/cHttpSend.h"
#include "platform/Thread.h"

// Files below this size go through the batch: the download engine would not
// split them into more than one range (its split floor).
constexpr int64_t BatchSizeLimit = 262144;
// Files in flight at once, one kept-alive connection each: enough to hide
// a round trip of some tens of milliseconds behind the other transfers,
// few enough that a server does not see a flood from one player.
constexpr int BatchConnections = 5;

struct TBatchOptions {
  uint32_t ConnectTimeoutMs = 10000;
  // A file that is not complete after this long has failed, however slowly
  // the server keeps sending, its answer's header included.
  uint32_t FileDeadlineMs = 60000;
  uint32_t RenameRetries = 100;
  uint32_t RenameRetryMs = 100;
  // 1 sends each request after the previous answer.
  int PipelineDepth = ::PipelineDepth;
  THttpLimits Limits;
  // The run's rate cap; null: none.
  std::shared_ptr<TRateLimiter> Limiter;
  // The run's mirrors; null or one: every URL as given.
  std::shared_ptr<TMirrorSet> Mirrors;
};

struct TBatchJob {
  std::string Url;
  std::string TargetPath;   // written as TargetPath + ".!tmp" first
  int64_t ExpectedSize = 0;
  std::string Md5;          // empty: only the size is checked
};

enum class TBatchOutcome { Pending, Done, Failed, WriteFailed, UseEngine, Stopped };

struct TBatchResult {
  TBatchOutcome Outcome = TBatchOutcome::Pending;
  std::string ErrorText;
};

class THttpBatch {
public:
  explicit THttpBatch(int connections = BatchConnections, const TBatchOptions& options = TBatchOptions());
  // Aborts what is in flight and waits for the workers.
  ~THttpBatch();
  THttpBatch(const THttpBatch&) = delete;
  THttpBatch& operator=(const THttpBatch&) = delete;

  // Queues a file; the workers take files in the order they were added.
  // Returns the job's number for Wait.
  int Add(const TBatchJob& job);
  // Waits up to `timeoutMs` for the job; Pending when it is not finished yet.
  // Closes the connection of a file past its deadline first: a server that
  // drips its answer's header is cut off there.
  TBatchResult Wait(int job, uint32_t timeoutMs);
  // Drops every queued file and closes every connection, so that blocked
  // workers return at once; any thread. Nothing unverified is placed.
  void Abort();
  bool Aborted() const { return FAborted.load(); }

  // Connections opened so far (a measure of how well they are kept).
  int ConnectionsOpened() const { return FConnectsMade.load(); }
  // Requests sent before the answer of the one ahead of them came.
  int RequestsSentAhead() const { return FSentAhead.load(); }
  // False once a connection lost requests that went ahead of an answer:
  // the rest of the batch sends one request at a time.
  bool Pipelining() const { return FPipelining.load(); }

private:
  class TWorker;
  friend class TWorker;
  // The next queued job for a worker, waiting for one when `wait` is set;
  // false once the batch is ending (or, without `wait`, when none is queued).
  bool TakeJob(int& job, TBatchJob& taken, bool wait);
  void Finish(int job, const TBatchResult& result);
  // A job whose mirror was set aside goes first to the next free worker.
  void Requeue(int job);
  // The mirror for a worker's next connection (see TMirrorSet::Pick).
  size_t PickMirror();
  void StopPipelining() { FPipelining = false; }

  const TBatchOptions FOptions;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<int> FQueue;
  std::vector<TBatchJob> FJobs;
  std::vector<TBatchResult> FResults;
  bool FEnding = false;
  std::atomic<bool> FAborted{false};
  std::atomic<int> FConnectsMade{0};
  std::atomic<int> FSentAhead{0};
  std::atomic<bool> FPipelining;
  std::vector<std::unique_ptr<TWorker>> FWorkers;
};
