#include "http/RangeFetch.h"

#include <algorithm>

#include "common/Format.h"
#include "http/cSendUtils.h"
#include "platform/Tick.h"

TRangeFetch::TRangeFetch(std::string url, std::string address, int64_t fileSize, std::vector<TRange> ranges,
                         TRangeSink& sink, const TRangeFetchOptions& options)
    : FUrl(std::move(url)), FAddress(std::move(address)), FFileSize(fileSize), FRanges(std::move(ranges)),
      FSink(sink), FOptions(options), FAttempts(FRanges.size(), 0),
      FProgress(options.NoProgressMs, options.UsefulBytes) {}

TRangeFetch::~TRangeFetch() { Stop(); }

void TRangeFetch::Start(const std::vector<uint8_t>& wanted) {
  FProgress.Restart();
  {
    std::lock_guard<std::mutex> guard(FLock);
    for (size_t r = FRanges.size(); r-- > 0;)
      if (wanted.empty() || wanted[r]) FQueue.push_back(r);
    FLeft = FQueue.size();
  }
  const size_t count = std::min(FQueue.size(), static_cast<size_t>(std::max(1, FOptions.Connections)));
  FAssigned.assign(count, {});
  for (size_t i = 0; i < count; ++i)
    FWorkers.push_back(std::make_unique<THttpWorker>(static_cast<int>(i) + 1, FAddress, static_cast<THttpWorkerEvents&>(*this), FOptions.Worker));
  for (auto& worker : FWorkers) GiveNext(*worker);
}

void TRangeFetch::Stop() {
  FStopping = true;
  FWorkers.clear();
}

TRangeFetchState TRangeFetch::Poll() {
  if (FFailed) return TRangeFetchState::Failed;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FLeft == 0) return TRangeFetchState::Done;
  }
  const uint32_t now = GetTickCount32();
  for (const auto& worker : FWorkers) {
    const uint32_t last = worker->LastActivity();
    if (last > 1 && now - last > FOptions.SilenceMs && static_cast<int32_t>(now - last) > 0) {
      Fail(Format("no data for %u ms", static_cast<unsigned>(now - last)));
      return TRangeFetchState::Failed;
    }
  }
  if (FProgress.Expired()) {
    Fail(Format("no answer brought %lld bytes or a whole range for %u ms",
                static_cast<long long>(FProgress.UsefulBytes()), FProgress.WindowMs()));
    return TRangeFetchState::Failed;
  }
  return TRangeFetchState::Running;
}

int TRangeFetch::RequestsSentAhead() const {
  int count = 0;
  for (const auto& worker : FWorkers) count += worker->RequestsSentAhead();
  return count;
}

std::string TRangeFetch::ErrorText() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FError;
}

void TRangeFetch::Fail(const std::string& text) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FError.empty()) FError = text;
  FFailed = true;
}

bool TRangeFetch::GiveNext(THttpWorker& worker) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    std::deque<size_t>& assigned = FAssigned[static_cast<size_t>(worker.Index() - 1)];
    if (!assigned.empty()) assigned.pop_front();
    if (FFailed || FStopping) {
      assigned.clear();
      return false;
    }
    // Each connection gets its share of what is left, at most the depth
    // and the bytes that may be on their way to it.
    const size_t share = (FQueue.size() + assigned.size() + FAssigned.size() - 1) / FAssigned.size();
    const size_t most = std::max<size_t>(1, std::min<size_t>(share, static_cast<size_t>(FOptions.PipelineDepth)));
    int64_t bytes = 0;
    for (const size_t range : assigned) bytes += FRanges[range].Length;
    while (!FQueue.empty() &&
           (assigned.empty() ||
            (assigned.size() < most && bytes + FRanges[FQueue.back()].Length <= FOptions.AheadBytes))) {
      assigned.push_back(FQueue.back());
      bytes += FRanges[FQueue.back()].Length;
      FQueue.pop_back();
    }
    if (assigned.empty()) return false;
  }
  Give(worker);
  return true;
}

std::unique_ptr<THttpHeader> TRangeFetch::RangeRequest(size_t range) const {
  auto request = std::make_unique<THttpHeader>();
  request->SetRequest("GET", FUrl);
  request->SetRange(FRanges[range].Offset, FRanges[range].Offset + FRanges[range].Length - 1);
  request->SetField("Connection", "keep-alive");
  return request;
}

void TRangeFetch::Give(THttpWorker& worker) {
  size_t range;
  std::vector<std::string> ahead;
  {
    std::lock_guard<std::mutex> guard(FLock);
    const std::deque<size_t>& assigned = FAssigned[static_cast<size_t>(worker.Index() - 1)];
    range = assigned.front();
    for (size_t i = 1; i < assigned.size(); ++i) ahead.push_back(RangeRequest(assigned[i])->BuildRequest());
  }
  FSink.RangeBegin(range);
  ++FRequests;
  worker.GiveRequest(RangeRequest(range), std::move(ahead));
}

size_t TRangeFetch::Current(THttpWorker& worker) const {
  std::lock_guard<std::mutex> guard(FLock);
  const std::deque<size_t>& assigned = FAssigned[static_cast<size_t>(worker.Index() - 1)];
  return assigned.empty() ? SIZE_MAX : assigned.front();
}

int TRangeFetch::WorkerHeader(THttpWorker& worker) {
  if (FFailed || FStopping) return 0;
  const THttpHeader& response = worker.Response();
  const size_t range = Current(worker);
  if (range == SIZE_MAX) return 0;
  const TRange& asked = FRanges[range];
  if (response.Status() == 200) {
    Fail("the server ignores byte ranges (200 to a range request)");
    return 0;
  }
  if (response.Status() != 206) {
    Fail(Format("%d %s to a range request", response.Status(), response.Reason().c_str()));
    return 0;
  }
  // The start was checked against the request's as the header was read.
  if (response.ContentRangeEnd() != asked.Offset + asked.Length - 1 || response.RangeTotal() != FFileSize ||
      (response.HasField("Content-Length") && response.ContentLength() != asked.Length)) {
    Fail("wrong Content-Range \"" + response.GetField("Content-Range") + "\" for " + std::to_string(asked.Offset) +
         "-" + std::to_string(asked.Offset + asked.Length - 1) + "/" + std::to_string(FFileSize));
    return 0;
  }
  return 1;
}

bool TRangeFetch::WorkerData(THttpWorker& worker, std::vector<char>& block, int64_t position) {
  if (FFailed || FStopping) return false;
  const size_t range = Current(worker);
  if (range == SIZE_MAX) return false;
  FReceived += static_cast<int64_t>(block.size());
  FProgress.Add(static_cast<int64_t>(block.size()));
  if (!FSink.RangeData(range, position, block.data(), block.size())) {
    Fail("range data refused");
    return false;
  }
  return true;
}

void TRangeFetch::WorkerDone(THttpWorker& worker) {
  if (FFailed || FStopping) return;
  const size_t range = Current(worker);
  if (range == SIZE_MAX) return;
  if (!FSink.RangeEnd(range)) {
    Fail("range " + std::to_string(range) + " ended short");
    return;
  }
  FProgress.Completed();
  {
    std::lock_guard<std::mutex> guard(FLock);
    --FLeft;
  }
  GiveNext(worker);
}

void TRangeFetch::WorkerFailed(THttpWorker& worker) {
  if (FFailed || FStopping) return;
  size_t range;
  int attempts;
  {
    std::lock_guard<std::mutex> guard(FLock);
    const std::deque<size_t>& assigned = FAssigned[static_cast<size_t>(worker.Index() - 1)];
    if (assigned.empty()) return;
    range = assigned.front();
    attempts = ++FAttempts[range];
  }
  if (attempts > FOptions.Retries) {
    const std::string reason = worker.Response().ErrorText();
    Fail("range " + std::to_string(range) + " failed " + std::to_string(attempts) + " times" +
         (reason.empty() ? std::string() : ": " + reason));
    return;
  }
  Give(worker);
}
