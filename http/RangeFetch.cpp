#include "http/RangeFetch.h"

#include <algorithm>

#include "common/Format.h"

// --- the list ---------------------------------------------------------------

TRangeList::TRangeList(std::string url, int64_t fileSize, std::vector<TFileRange> ranges,
                       const std::vector<uint8_t>& wanted, TRangeSink& sink, const TRangeFetchOptions& options,
                       size_t slots)
    : FFileSize(fileSize), FRanges(std::move(ranges)), FSink(sink), FOptions(options), FUrl(std::move(url)),
      FAssigned(std::max<size_t>(1, slots)), FAttempts(FRanges.size(), 0),
      FSlotMirror(FAssigned.size(), NoMirror) {
  for (size_t r = FRanges.size(); r-- > 0;)
    if (wanted.empty() || wanted[r]) FQueue.push_back(r);
  FWanted = FLeft = FQueue.size();
}

std::unique_ptr<THttpHeader> TRangeList::RangeRequest(size_t range, size_t slot) const {
  auto request = std::make_unique<THttpHeader>();
  const size_t mirror = FSlotMirror[slot];
  const std::shared_ptr<TMirrorSet>& mirrors = FOptions.Worker.Mirrors;
  request->SetRequest("GET", mirror == NoMirror || !mirrors ? FUrl : mirrors->MapUrl(mirror, FUrl));
  request->SetRange(FRanges[range].Offset, FRanges[range].Offset + FRanges[range].Length - 1);
  request->SetField("Connection", "keep-alive");
  if (!FCookie.empty()) request->SetField("Cookie", FCookie);
  if (!FReferer.empty()) request->SetField("Referer", FReferer);
  return request;
}

bool TRangeList::Take(size_t slot, std::unique_ptr<THttpHeader>& request, std::vector<std::string>& ahead) {
  size_t range, mirror;
  {
    std::lock_guard<std::mutex> guard(FLock);
    std::deque<size_t>& assigned = FAssigned[slot];
    // Each connection gets its share of what is left, at most the depth
    // and the bytes that may be on their way to it.
    const size_t share = (FQueue.size() + assigned.size() + FAssigned.size() - 1) / FAssigned.size();
    const size_t most = std::max<size_t>(1, std::min<size_t>(share, static_cast<size_t>(FOptions.PipelineDepth)));
    int64_t bytes = 0;
    for (const size_t r : assigned) bytes += FRanges[r].Length;
    while (!FQueue.empty() &&
           (assigned.empty() ||
            (assigned.size() < most && bytes + FRanges[FQueue.back()].Length <= FOptions.AheadBytes))) {
      assigned.push_back(FQueue.back());
      bytes += FRanges[FQueue.back()].Length;
      FQueue.pop_back();
    }
    if (assigned.empty()) return false;
    range = assigned.front();
    request = RangeRequest(range, slot);
    ahead.clear();
    for (size_t i = 1; i < assigned.size(); ++i) ahead.push_back(RangeRequest(assigned[i], slot)->BuildRequest());
    mirror = FSlotMirror[slot];
  }
  if (mirror != NoMirror) FSink.RangeFrom(range, mirror);
  FSink.RangeBegin(range);
  ++FRequests;
  return true;
}

size_t TRangeList::Current(size_t slot) const {
  std::lock_guard<std::mutex> guard(FLock);
  return FAssigned[slot].empty() ? SIZE_MAX : FAssigned[slot].front();
}

std::string TRangeList::Mismatch(size_t slot, const THttpHeader& response) const {
  const size_t range = Current(slot);
  if (range == SIZE_MAX) return "an answer without a range asked for";
  if (response.Status() == 200) return "the server ignores byte ranges (200 to a range request)";
  if (response.Status() != 206) return Format("%d %s to a range request", response.Status(), response.Reason().c_str());
  // The start was checked against the request's as the header was read.
  const TFileRange& asked = FRanges[range];
  if (response.ContentRangeEnd() != asked.Offset + asked.Length - 1 || response.RangeTotal() != FFileSize ||
      (response.HasField("Content-Length") && response.ContentLength() != asked.Length))
    return "wrong Content-Range \"" + response.GetField("Content-Range") + "\" for " + std::to_string(asked.Offset) +
           "-" + std::to_string(asked.Offset + asked.Length - 1) + "/" + std::to_string(FFileSize);
  return "";
}

bool TRangeList::Data(size_t slot, int64_t position, const char* data, size_t length) {
  const size_t range = Current(slot);
  return range != SIZE_MAX && FSink.RangeData(range, position, data, length);
}

bool TRangeList::End(size_t slot, std::string& error) {
  const size_t range = Current(slot);
  const bool ended = range != SIZE_MAX && FSink.RangeEnd(range);
  if (range != SIZE_MAX && !ended) {
    // Bytes that fail their check set their mirror aside; another mirror
    // fetches the range again.
    size_t mirror;
    {
      std::lock_guard<std::mutex> guard(FLock);
      mirror = FSlotMirror[slot];
    }
    const std::shared_ptr<TMirrorSet>& mirrors = FOptions.Worker.Mirrors;
    if (mirror != NoMirror && mirrors &&
        mirrors->SetAside(mirror, "range " + std::to_string(range) + " failed its check")) {
      std::lock_guard<std::mutex> guard(FLock);
      std::deque<size_t>& assigned = FAssigned[slot];
      for (auto r = assigned.rbegin(); r != assigned.rend(); ++r) FQueue.push_back(*r);
      assigned.clear();
      return true;
    }
  }
  if (!ended) {
    error = "range " + std::to_string(range) + " ended short";
    return false;
  }
  std::lock_guard<std::mutex> guard(FLock);
  FAssigned[slot].pop_front();
  --FLeft;
  return true;
}

bool TRangeList::Failed(size_t slot, bool countAttempt, const std::string& reason, std::string& error) {
  std::lock_guard<std::mutex> guard(FLock);
  std::deque<size_t>& assigned = FAssigned[slot];
  if (assigned.empty()) return true;
  const size_t range = assigned.front();
  // Back in the queue in their order: the one being read is given next.
  for (auto r = assigned.rbegin(); r != assigned.rend(); ++r) FQueue.push_back(*r);
  assigned.clear();
  if (countAttempt && ++FAttempts[range] > FOptions.Retries) {
    error = "range " + std::to_string(range) + " failed " + std::to_string(FAttempts[range]) + " times" +
            (reason.empty() ? std::string() : ": " + reason);
    return false;
  }
  return true;
}

void TRangeList::Moved(const THttpHeader& request) {
  std::lock_guard<std::mutex> guard(FLock);
  FUrl = request.Url();
  FCookie = request.GetField("Cookie");
  FReferer = request.GetField("Referer");
}

void TRangeList::SetSlotMirror(size_t slot, size_t mirror) {
  std::lock_guard<std::mutex> guard(FLock);
  FSlotMirror[slot] = mirror;
}

size_t TRangeList::Left() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FLeft;
}

// --- the fetch --------------------------------------------------------------

TRangeFetch::TRangeFetch(std::string url, std::string address, int64_t fileSize, std::vector<TRange> ranges,
                         TRangeSink& sink, const TRangeFetchOptions& options)
    : FUrl(std::move(url)), FAddress(std::move(address)), FFileSize(fileSize), FRanges(std::move(ranges)),
      FSink(sink), FOptions(options) {}

TRangeFetch::~TRangeFetch() { Stop(); }

void TRangeFetch::Start(const std::vector<uint8_t>& wanted) {
  size_t count = 0;
  for (size_t r = 0; r < FRanges.size(); ++r) count += wanted.empty() || wanted[r] ? 1 : 0;
  // As many connections to each mirror in use as to one server.
  const std::shared_ptr<TMirrorSet>& mirrors = FOptions.Worker.Mirrors;
  const size_t servers = mirrors && mirrors->Count() > 1 && mirrors->MirrorOf(FUrl) != NoMirror ? mirrors->InUse() : 1;
  const size_t workers =
      std::max<size_t>(1, std::min(count, static_cast<size_t>(std::max(1, FOptions.Connections)) * servers));
  FList = std::make_unique<TRangeList>(FUrl, FFileSize, std::move(FRanges), wanted, FSink, FOptions, workers);
  TDownloadOptions engine;
  engine.WatchdogMs = FOptions.SilenceMs;
  engine.NoProgressMs = FOptions.NoProgressMs;
  engine.UsefulAnswerBytes = FOptions.UsefulBytes;
  engine.Worker = FOptions.Worker;
  FDownload = std::make_unique<THttpDownload>(static_cast<int>(workers), engine);
  if (!FAddress.empty()) FDownload->SetAddresses({FAddress});
  const std::shared_ptr<TOutcome> outcome = FOutcome;
  FDownload->OnDone = [outcome](THttpDownload&) { outcome->value = 1; };
  FDownload->OnError = [outcome](THttpDownload&) {
    int none = 0;
    outcome->value.compare_exchange_strong(none, 2);
  };
  if (!FDownload->StartList(FUrl, *FList)) outcome->value = 2;
}

void TRangeFetch::Stop() {
  if (!FDownload) return;
  // What the figures and the reason need outlives the engine.
  FError = FDownload->ErrorText();
  FReceived = FDownload->BytesReceived();
  FSentAhead = FDownload->RequestsSentAhead();
  FDownload.reset();
}

TRangeFetchState TRangeFetch::Poll() {
  if (FDownload && FOutcome->value == 0) FDownload->Poll();
  switch (FOutcome->value.load()) {
    case 1: return TRangeFetchState::Done;
    case 2: return TRangeFetchState::Failed;
    default: return TRangeFetchState::Running;
  }
}

int64_t TRangeFetch::Received() const { return FDownload ? FDownload->BytesReceived() : FReceived; }

int TRangeFetch::RequestsSentAhead() const { return FDownload ? FDownload->RequestsSentAhead() : FSentAhead; }

std::string TRangeFetch::ErrorText() const { return FDownload ? FDownload->ErrorText() : FError; }
