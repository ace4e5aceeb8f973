#include "http/HttpBatch.h"

#include <algorithm>
#include <chrono>

#include "common/Format.h"
#include "common/Md5.h"
#include "common/PathUtils.h"
#include "http/FetchedFile.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Tick.h"

namespace {

// An error answer's body up to this size is read and dropped so that the
// connection serves the next file; a larger one costs a new connection.
constexpr uint64_t MaxDrainedBody = 65536;

TBatchResult Result(TBatchOutcome outcome, const std::string& text = std::string()) {
  TBatchResult result;
  result.Outcome = outcome;
  result.ErrorText = text;
  return result;
}

}  // namespace

// One connection and its buffers, kept from file to file. Once the
// connection has kept alive after an answer, the requests for the next few
// files go out before their answers come back (HTTP/1.1 pipelining): a
// player far from the server then waits one round trip for several files
// instead of one for each. Answers come in the order of the requests.
class THttpBatch::TWorker : public TThread {
public:
  explicit TWorker(THttpBatch& batch)
      : FBatch(batch), FConnection(batch.FOptions.Limiter, batch.FOptions.ConnectTimeoutMs) {
    FBody.reserve(static_cast<size_t>(BatchSizeLimit));
    FConnection.SetStopFlag([this] { return FBatch.Aborted(); });
    Start();
  }
  ~TWorker() override { TerminateAndWait(); }
  void CloseConnection() { FConnection.Abort(); }
  // Any thread: the file in hand is past its deadline.
  void CloseIfLate() {
    const uint32_t since = FBusySince.load();
    if (since != 0 && GetTickCount32() - since > FBatch.FOptions.FileDeadlineMs) FConnection.Abort();
  }

protected:
  void Execute() override {
    while (!Terminated()) {
      if (FTaken.empty()) {
        TTaken next;
        if (!FBatch.TakeJob(next.id, next.job, true)) break;
        FTaken.push_back(Prepared(std::move(next)));
      }
      ChooseMirror();
      TakeMore();
      FBusySince = std::max<uint32_t>(GetTickCount32(), 1);
      TBatchResult result = Fetch(FTaken.front());
      FBusySince = 0;
      if (FBatch.Aborted() && result.Outcome != TBatchOutcome::Done) result = Result(TBatchOutcome::Stopped);
      if (result.Outcome == TBatchOutcome::Failed && !FMirrorFault.empty() &&
          FBatch.FOptions.Mirrors->SetAside(FMirror, FMirrorFault)) {
        // The file goes to another mirror; so do those taken after it.
        FMirror = NoMirror;
        Disconnect();
        FBatch.Requeue(FTaken.front().id);
        FTaken.pop_front();
        continue;
      }
      if (result.Outcome == TBatchOutcome::Done) Delivered(FTaken.front());
      FBatch.Finish(FTaken.front().id, result);
      FTaken.pop_front();
    }
    for (const TTaken& left : FTaken) FBatch.Finish(left.id, Result(TBatchOutcome::Stopped));
    FTaken.clear();
  }
  void TerminatedSet() override { FConnection.Abort(); }
  std::string ThreadName() const override { return "THttpBatch"; }

private:
  // A job this worker took, in the order its answer will come.
  struct TTaken {
    int id = 0;
    TBatchJob job;
    THttpHeader request;
    bool valid = false;  // an http or https URL
  };

  TTaken Prepared(TTaken taken) const {
    const size_t mirror = FMirror;
    const std::string url = mirror == NoMirror ? taken.job.Url : FBatch.FOptions.Mirrors->MapUrl(mirror, taken.job.Url);
    taken.valid = taken.request.SetRequest("GET", url);
    taken.request.SetField("Connection", "keep-alive");
    return taken;
  }
  bool Mirrored() const { return FBatch.FOptions.Mirrors && FBatch.FOptions.Mirrors->Count() > 1; }
  // A worker without a kept connection (or whose mirror was set aside)
  // picks its mirror again; the files it holds go there.
  void ChooseMirror();
  // What the mirror delivered, and how fast.
  void Delivered(const TTaken& taken);
  // Jobs to send ahead, while the open connection has proved it keeps alive.
  void TakeMore();
  TBatchResult Fetch(TTaken& taken);
  // Sends the request (with those of the next files for the same server
  // once the connection has kept alive) and reads its answer's header.
  bool Exchange(TTaken& taken, std::string& failure);
  bool ReadBody(int64_t limit, std::string& failure, bool& keep);
  void DrainOrClose();
  bool Place(const TBatchJob& job, const std::string& data, TBatchResult& result);
  // Closes the connection: requests sent on it and not answered go again
  // on the next one.
  void Disconnect() {
    FConnection.Close();
    FProven = false;
  }
  bool Stopping() const {
    return FBatch.Aborted() || Terminated() || GetTickCount32() - FStartTick > FBatch.FOptions.FileDeadlineMs;
  }

  THttpBatch& FBatch;
  THttpConnection FConnection;
  // The open connection kept alive after an HTTP/1.1 answer: requests may
  // go out ahead of their answers.
  bool FProven = false;
  std::deque<TTaken> FTaken;
  THttpHeader FResponse;
  std::string FBody;
  std::string FInflated;
  uint32_t FStartTick = 0;
  uint32_t FBodyTick = 0;  // when the file's last byte came in
  std::atomic<uint32_t> FBusySince{0};  // 0 while no file is in hand
public:
  // The mirror this worker's requests go to (NoMirror: as given).
  std::atomic<size_t> FMirror{NoMirror};
private:
  // Why the file in hand failed through its mirror's fault; empty when not.
  std::string FMirrorFault;
};

void THttpBatch::TWorker::ChooseMirror() {
  if (!Mirrored()) return;
  const std::shared_ptr<TMirrorSet>& mirrors = FBatch.FOptions.Mirrors;
  const size_t mine = FMirror;
  if (FProven && mine != NoMirror && !mirrors->IsSetAside(mine)) return;
  FMirror = NoMirror;
  const size_t next = FBatch.PickMirror();
  FMirror = next;
  FConnection.SetConnectTimeout(mirrors->ConnectBound(FBatch.FOptions.ConnectTimeoutMs));
  if (next == mine) return;
  Disconnect();
  for (TTaken& taken : FTaken) taken = Prepared(std::move(taken));
}

void THttpBatch::TWorker::Delivered(const TTaken& taken) {
  if (!Mirrored() || FMirror == NoMirror) return;
  const std::shared_ptr<TMirrorSet>& mirrors = FBatch.FOptions.Mirrors;
  const size_t mirror = FMirror;
  const int64_t bytes = static_cast<int64_t>(FBody.size());
  mirrors->AddBytes(mirror, bytes);
  mirrors->FileDone(mirrors->PathOf(taken.job.Url), {{mirror, bytes}});
  const uint32_t elapsed = std::max<uint32_t>(GetTickCount32() - FStartTick, 1);
  mirrors->NoteRate(mirror, static_cast<double>(bytes) * 1000.0 / elapsed);
  // Whether it is too slow to keep is judged by its answers alone, not by
  // the time this side took to place the files.
  mirrors->AddAnswer(mirror, bytes, std::max<uint32_t>(FBodyTick - FStartTick, 1));
  // A mirror far slower than the fastest one, over its files so far, leaves
  // the rest to the others.
  if (mirrors->SetAsideIfSlowest(mirror)) FMirror = NoMirror;
}

void THttpBatch::TWorker::TakeMore() {
  const size_t depth = static_cast<size_t>(std::max(FBatch.FOptions.PipelineDepth, 1));
  while (FProven && FBatch.Pipelining() && FTaken.size() < depth) {
    TTaken next;
    if (!FBatch.TakeJob(next.id, next.job, false)) break;
    FTaken.push_back(Prepared(std::move(next)));
  }
}

// Answers come in the order of the requests: the requests go out in the
// order the jobs were taken, up to the first one for another server.
bool THttpBatch::TWorker::Exchange(TTaken& taken, std::string& failure) {
  const THttpHeader& request = taken.request;
  const std::string server = request.Host() + ":" + std::to_string(request.Port());
  const std::string key = ConnectionKey(request, std::string());
  std::vector<std::string> ahead;
  if (FProven && FBatch.Pipelining()) {
    for (size_t i = 1; i < FTaken.size(); ++i) {
      if (!FTaken[i].valid) continue;
      if (ConnectionKey(FTaken[i].request, std::string()) != key) break;
      ahead.push_back(FTaken[i].request.BuildRequest());
    }
  }
  const int connects = FConnection.Connects(), sentAhead = FConnection.RequestsSentAhead();
  const TExchange exchange = FConnection.Exchange(request, std::string(), ahead, FResponse, FBatch.FOptions.Limits);
  FBatch.FConnectsMade += FConnection.Connects() - connects;
  FBatch.FSentAhead += FConnection.RequestsSentAhead() - sentAhead;
  // A server that loses requests sent ahead gets them one at a time from
  // now on, on every connection of the batch.
  if (FConnection.AheadLost()) FBatch.StopPipelining();
  if (exchange == TExchange::Answered) return true;
  const std::string socketError = FConnection.Socket().ErrorText();
  Disconnect();
  if (exchange == TExchange::Invalid) {
    failure = FResponse.ErrorText() + "\r\n" + FResponse.HeaderLines();
  } else if (exchange == TExchange::ConnectFailed) {
    failure = server + ": " + socketError;
    if (FMirror != NoMirror && !FBatch.Aborted())
      FMirrorFault = Format("no connection within %u s (%s)",
                            (FBatch.FOptions.Mirrors->ConnectBound(FBatch.FOptions.ConnectTimeoutMs) + 999) / 1000,
                            socketError.c_str());
  } else {
    failure = server + ": the connection ended before an answer " + socketError;
  }
  return false;
}

TBatchResult THttpBatch::TWorker::Fetch(TTaken& taken) {
  FStartTick = GetTickCount32();
  FMirrorFault.clear();
  const TBatchJob& job = taken.job;
  const THttpHeader& request = taken.request;
  if (!taken.valid) return Result(TBatchOutcome::Failed, "not an http URL: " + job.Url);
  std::string failure;
  if (!Exchange(taken, failure)) return Result(TBatchOutcome::Failed, failure);

  const int status = FResponse.Status();
  const std::string peer = FConnection.Socket().PeerText();
  if (status == 301 || status == 302) {
    // Redirects, cookies and referers are the engine's business.
    Disconnect();
    return Result(TBatchOutcome::UseEngine, peer + " " + std::to_string(status) + " " + request.Path());
  }
  if (status != 200) {
    if (FMirror != NoMirror && status >= 400) FMirrorFault = Format("answered %d %s", status, FResponse.Reason().c_str());
    DrainOrClose();
    return Result(TBatchOutcome::Failed,
                  peer + " " + std::to_string(status) + " " + FResponse.Reason() + " " + request.Path());
  }
  const int coding = FResponse.ContentCoding();
  if (coding == 0 && !FResponse.IsChunked() && FResponse.HasField("Content-Length") &&
      FResponse.ContentLength() != job.ExpectedSize) {
    if (FMirror != NoMirror)
      FMirrorFault = Format("serves %s with %lld bytes", request.Path().c_str(), static_cast<long long>(FResponse.ContentLength()));
    Disconnect();
    return Result(TBatchOutcome::Failed,
                  Format("%s File (%s) Length Error: %lld <> %lld", peer.c_str(), request.Path().c_str(),
                         static_cast<long long>(FResponse.ContentLength()),
                         static_cast<long long>(job.ExpectedSize)));
  }
  // A compressed body may be a little larger than the file it inflates to.
  const int64_t limit = coding == 0 ? job.ExpectedSize : job.ExpectedSize + job.ExpectedSize / 8 + 65536;
  bool keep = false;
  if (!ReadBody(limit, failure, keep)) {
    // A mirror that stalls until the file's deadline is set aside.
    if (FMirror != NoMirror && !FBatch.Aborted() && GetTickCount32() - FStartTick > FBatch.FOptions.FileDeadlineMs)
      FMirrorFault = "stalled: " + request.Path() + " not complete after " + std::to_string(FBatch.FOptions.FileDeadlineMs / 1000) + " s";
    Disconnect();
    return Result(TBatchOutcome::Failed, peer + " " + request.Path() + ": " + failure);
  }
  FBodyTick = GetTickCount32();
  if (keep) {
    FConnection.Finish(true);
    FProven = FResponse.Version() != "HTTP/1.0";
  } else {
    Disconnect();
  }

  const std::string* data = &FBody;
  if (coding != 0) {
    std::string error;
    FInflated.clear();
    if (InflateBuffer(FBody, coding, static_cast<uint64_t>(job.ExpectedSize), FInflated, error) !=
        TInflateResult::Ok)
      return Result(TBatchOutcome::Failed, request.Path() + ": the body does not inflate to the expected file");
    data = &FInflated;
  }
  TBatchResult result;
  Place(job, *data, result);
  return result;
}

bool THttpBatch::TWorker::ReadBody(int64_t limit, std::string& failure, bool& keep) {
  FBody.clear();
  const THttpBodySink sink = [this, limit](const char* data, size_t length) {
    if (static_cast<int64_t>(FBody.size() + length) > limit) return false;
    FBody.append(data, length);
    return true;
  };
  const THttpStopFlag stop = [this] { return Stopping(); };
  TBodyRead read;
  bool untilClose = false;
  if (FResponse.IsChunked()) {
    uint64_t total = 0;
    read = ReadChunkedBody(FConnection.Socket(), FBatch.FOptions.Limits, sink, stop, total);
  } else if (FResponse.HasField("Content-Length")) {
    read = ReadIdentityBody(FConnection.Socket(), static_cast<uint64_t>(FResponse.ContentLength()), sink, stop);
  } else {
    untilClose = true;
    read = ReadBodyUntilClose(FConnection.Socket(), static_cast<uint64_t>(limit), sink, stop);
  }
  if (read != TBodyRead::Ok) {
    failure = read == TBodyRead::Stopped && !FBatch.Aborted() && static_cast<int64_t>(FBody.size()) < limit
                  ? "stopped after " + std::to_string(FBody.size()) + " bytes"
                  : "body read failed after " + std::to_string(FBody.size()) + " bytes " + FConnection.Socket().ErrorText();
    return false;
  }
  // HTTP/1.1 keeps the connection unless the server says otherwise; an
  // HTTP/1.0 server keeps it only when it says so.
  const std::string connection = TrimText(FResponse.GetField("Connection"));
  keep = !untilClose && !SameText(connection, "close") &&
         (FResponse.Version() != "HTTP/1.0" || SameText(connection, "keep-alive"));
  return true;
}

void THttpBatch::TWorker::DrainOrClose() {
  const bool small = !FResponse.IsChunked() && FResponse.HasField("Content-Length") &&
                     static_cast<uint64_t>(FResponse.ContentLength()) <= MaxDrainedBody;
  const std::string connection = TrimText(FResponse.GetField("Connection"));
  if (small && !SameText(connection, "close") && FResponse.Version() != "HTTP/1.0") {
    const THttpBodySink drop = [](const char*, size_t) { return true; };
    if (ReadIdentityBody(FConnection.Socket(), static_cast<uint64_t>(FResponse.ContentLength()), drop,
                         [this] { return Stopping(); }) == TBodyRead::Ok) {
      FConnection.Finish(true);
      return;
    }
  }
  Disconnect();
}

// The data is checked in memory, written beside the target and only then
// renamed over it; the target stays as it was on every failure.
bool THttpBatch::TWorker::Place(const TBatchJob& job, const std::string& data, TBatchResult& result) {
  const std::string fault = FetchedFileFault(ExtractFileName(job.TargetPath), static_cast<int64_t>(data.size()),
                                             job.ExpectedSize, job.Md5, [&data] { return MD5OfMemory(data); });
  if (!fault.empty()) {
    if (FMirror != NoMirror) FMirrorFault = "delivered bytes that failed their check: " + fault;
    result = Result(TBatchOutcome::Failed, fault);
    return false;
  }
  if (FBatch.Aborted()) {
    result = Result(TBatchOutcome::Stopped);
    return false;
  }
  const std::string temporary = job.TargetPath + ".!tmp";
  try {
    ForceDirectories(ExtractFilePath(job.TargetPath));
    TFileStream file(temporary, TFileMode::CreateTruncate);
    file.WriteBuffer(data.data(), data.size());
  } catch (const EFileError& e) {
    DeleteFileAt(temporary);
    result = Result(TBatchOutcome::WriteFailed, temporary + ": write error: " + e.what());
    return false;
  }
  if (!RenameWithRetries(temporary, job.TargetPath, FBatch.FOptions.RenameRetries, FBatch.FOptions.RenameRetryMs,
                         [this] { return FBatch.Aborted(); })) {
    result = Result(TBatchOutcome::Failed, job.TargetPath + ": cannot be replaced: " + LastFileErrorText());
    DeleteFileAt(temporary);
    return false;
  }
  // A resume file of an earlier engine download of this file is stale now.
  DeleteFileAt(job.TargetPath + ".!dl");
  const std::string serverTime =
      FResponse.HasField("Last-Modified") ? FResponse.GetField("Last-Modified") : FResponse.GetField("Date");
  if (!serverTime.empty()) SetFileUnixTime(job.TargetPath, HttpDateToUnixTime(serverTime));
  result = Result(TBatchOutcome::Done);
  return true;
}

// --- the batch -----------------------------------------------------------

THttpBatch::THttpBatch(int connections, const TBatchOptions& options)
    : FOptions(options), FPipelining(options.PipelineDepth > 1) {
  const int count = std::max(connections, 1);
  std::lock_guard<std::mutex> guard(FLock);
  for (int i = 0; i < count; ++i) FWorkers.push_back(std::make_unique<TWorker>(*this));
}

THttpBatch::~THttpBatch() {
  Abort();
  std::vector<std::unique_ptr<TWorker>> workers;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FEnding = true;
    workers.swap(FWorkers);
  }
  FChanged.notify_all();
  workers.clear();
}

int THttpBatch::Add(const TBatchJob& job) {
  std::lock_guard<std::mutex> guard(FLock);
  const int id = static_cast<int>(FJobs.size());
  FJobs.push_back(job);
  FResults.emplace_back();
  if (FAborted) {
    FResults.back().Outcome = TBatchOutcome::Stopped;
  } else {
    FQueue.push_back(id);
    FChanged.notify_all();
  }
  return id;
}

bool THttpBatch::TakeJob(int& job, TBatchJob& taken, bool wait) {
  std::unique_lock<std::mutex> lock(FLock);
  if (wait) FChanged.wait(lock, [this] { return FEnding || FAborted || !FQueue.empty(); });
  if (FEnding || FAborted || FQueue.empty()) return false;
  job = FQueue.front();
  FQueue.pop_front();
  taken = FJobs[static_cast<size_t>(job)];
  return true;
}

void THttpBatch::Finish(int job, const TBatchResult& result) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FResults[static_cast<size_t>(job)] = result;
  }
  FChanged.notify_all();
}

TBatchResult THttpBatch::Wait(int job, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FLock);
  for (const auto& worker : FWorkers) worker->CloseIfLate();
  if (job < 0 || static_cast<size_t>(job) >= FResults.size()) return Result(TBatchOutcome::Failed, "no such file");
  FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                    [&] { return FResults[static_cast<size_t>(job)].Outcome != TBatchOutcome::Pending; });
  return FResults[static_cast<size_t>(job)];
}

void THttpBatch::Requeue(int job) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FAborted || FEnding) {
      FResults[static_cast<size_t>(job)].Outcome = TBatchOutcome::Stopped;
    } else {
      FQueue.push_front(job);
    }
  }
  FChanged.notify_all();
}

size_t THttpBatch::PickMirror() {
  std::vector<int> connections(FOptions.Mirrors->Count(), 0);
  {
    std::lock_guard<std::mutex> guard(FLock);
    for (const auto& worker : FWorkers) {
      const size_t mirror = worker->FMirror;
      if (mirror < connections.size()) ++connections[mirror];
    }
  }
  return FOptions.Mirrors->Pick(connections);
}

void THttpBatch::Abort() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FAborted = true;
    for (const int queued : FQueue) FResults[static_cast<size_t>(queued)].Outcome = TBatchOutcome::Stopped;
    FQueue.clear();
    for (const auto& worker : FWorkers) worker->CloseConnection();
  }
  FChanged.notify_all();
}
