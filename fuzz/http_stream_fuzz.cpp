// The HTTP response stream as a whole, as a server sends it: the input is
// what a real TCP peer on 127.0.0.1 writes before it closes, read through
// the client's own socket code with the limits the launcher uses, by the
// three readers of answers:
// - THttpGetDocument (manifests): a body it accepts has the length the
//   header gave, unless chunked or encoded;
// - THttpBatch (small files over kept-alive connections, two files one
//   after the other on one connection): a file is placed only with its
//   expected size, and nothing is left beside it when it is not;
// - THttpWorker (ranges of the download engine, a second range on the kept
//   connection): no byte is delivered outside the range asked for.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fuzz/FuzzStreamServer.h"
#include "fuzz/FuzzTempFolder.h"
#include "http/HttpBatch.h"
#include "http/HttpWorker.h"
#include "http/cHttpSend.h"
#include "platform/File.h"

namespace {

// Never destroyed: its thread serves until the process has ended.
TFuzzStreamServer& Server() {
  static TFuzzStreamServer* const server = new TFuzzStreamServer;
  return *server;
}

std::string BaseUrl() { return "http://127.0.0.1:" + std::to_string(Server().Port()) + "/"; }

THttpDocumentOptions DocumentOptions() {
  THttpDocumentOptions options;
  options.Limits.MaxRedirects = 0;  // a redirect must not lead anywhere else
  return options;
}

void FetchDocument() {
  static THttpGetDocument document(DocumentOptions());
  try {
    if (!document.Get(BaseUrl() + "update.json", "")) return;
  } catch (const EInflateError&) {
    return;
  }
  const THttpHeader& response = document.Response();
  if (response.Status() != 200 && response.Status() != 206) std::abort();
  if (!response.IsChunked() && response.ContentCoding() == 0 && response.HasField("Content-Length") &&
      static_cast<int64_t>(document.Body().size()) != response.ContentLength())
    std::abort();
}

void FetchBatch() {
  static const int64_t sizes[] = {5, 3};
  TBatchOptions options;
  options.RenameRetries = 0;
  THttpBatch batch(1, options);
  std::string targets[2];
  int jobs[2];
  for (int i = 0; i < 2; ++i) {
    targets[i] = FuzzTempFolder() + "file" + std::to_string(i);
    DeleteFileAt(targets[i]);
    jobs[i] = batch.Add(TBatchJob{BaseUrl() + "file" + std::to_string(i), targets[i], sizes[i], ""});
  }
  for (int i = 0; i < 2; ++i) {
    const TBatchResult result = batch.Wait(jobs[i], 30000);
    if (result.Outcome == TBatchOutcome::Pending) std::abort();
    const bool placed = FileExists(targets[i]);
    if (placed != (result.Outcome == TBatchOutcome::Done)) std::abort();
    if (placed && GetFileSize(targets[i]) != sizes[i]) std::abort();
    if (FileExists(targets[i] + ".!tmp")) std::abort();
  }
}

// The owner's side of a worker: takes 200 and 206 answers and checks where
// the data lands.
class TRangeCheck : public THttpWorkerEvents {
public:
  int WorkerHeader(THttpWorker& worker) override {
    const int status = worker.Response().Status();
    return status == 200 || status == 206 ? 1 : 0;
  }
  bool WorkerData(THttpWorker& worker, std::vector<char>& block, int64_t position) override {
    const THttpHeader& request = worker.Request();
    if (worker.Response().Status() == 206 &&
        (position < request.RangeStart() || position + static_cast<int64_t>(block.size()) > request.RangeEnd() + 1))
      std::abort();
    return true;
  }
  void WorkerDone(THttpWorker&) override { Finished(); }
  void WorkerFailed(THttpWorker&) override { Finished(); }

  // Waits for the end of the request given after `seen` ends were counted.
  void WaitBeyond(int seen) {
    std::unique_lock<std::mutex> lock(FLock);
    if (!FChanged.wait_for(lock, std::chrono::seconds(30), [&] { return FEnds > seen; })) std::abort();
  }
  int Ends() {
    std::lock_guard<std::mutex> guard(FLock);
    return FEnds;
  }

private:
  void Finished() {
    std::lock_guard<std::mutex> guard(FLock);
    ++FEnds;
    FChanged.notify_all();
  }
  std::mutex FLock;
  std::condition_variable FChanged;
  int FEnds = 0;
};

void FetchRanges() {
  // One worker for every input, as the engine keeps its workers.
  static TRangeCheck check;
  static THttpWorker worker(0, "127.0.0.1", check, THttpWorkerOptions());
  for (int64_t start : {10, 20}) {
    auto request = std::make_unique<THttpHeader>();
    request->SetRequest("GET", BaseUrl() + "big.bin");
    request->SetRange(start, start + 9);
    request->SetField("Connection", "keep-alive");
    const int seen = check.Ends();
    worker.GiveRequest(std::move(request));
    check.WaitBeyond(seen);
  }
  worker.Socket().Close();  // the next input starts on a fresh connection
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Server().SetStream(data, size);
  FetchDocument();
  FetchBatch();
  FetchRanges();
  if (!Server().WaitAllClosed(10000)) std::abort();  // a connection the client never closed
  return 0;
}
