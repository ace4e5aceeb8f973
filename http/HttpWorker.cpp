#include "http/HttpWorker.h"

#include <algorithm>

#include "platform/DebugOutput.h"
#include "platform/Tick.h"

THttpWorker::THttpWorker(int index, std::string address, THttpWorkerEvents& events, const THttpWorkerOptions& options)
    : FIndex(index), FAddress(std::move(address)), FEvents(events), FOptions(options),
      FConnection(options.Limiter, options.ConnectTimeoutMs) {
  FBlock.reserve(BufferSize);
  Start();
}

THttpWorker::~THttpWorker() { TerminateAndWait(); }

void THttpWorker::TerminatedSet() {
  FConnection.Abort();
  FWake.SetEvent();
}

std::string THttpWorker::Address() const {
  std::lock_guard<std::mutex> guard(FAddressLock);
  return FAddress;
}

void THttpWorker::ClearAddress() {
  std::lock_guard<std::mutex> guard(FAddressLock);
  FAddress.clear();
}

void THttpWorker::Touch() {
  const uint32_t now = GetTickCount32();
  FLastActivity = now > 1 ? now : 2;  // 0 and 1 have meanings of their own
}

void THttpWorker::GiveRequest(std::unique_ptr<THttpHeader> request, std::vector<std::string> ahead) {
  FRequest = std::move(request);
  FAheadWanted = std::move(ahead);
  FResponse.PrepareResponse(*FRequest);
  FResponse.SetDelivered(0);
  {
    // A range may be cut from the moment it is given, before its answer
    // comes: at the end of a download the last range is often still on its
    // way when the other workers fall idle.
    std::lock_guard<std::mutex> guard(FCutLock);
    const bool ranged = FResponse.HasBoundedRange();
    FNext = ranged ? FResponse.RangeStart() : -1;
    FHandedOn = FNext;
    FStopAt = ranged ? FResponse.RangeEnd() + 1 : -1;
  }
  FBodyBytes = 0;
  FGivenTick = std::max<uint32_t>(GetTickCount32(), 1);
  Touch();
  FWake.SetEvent();
}

void THttpWorker::Execute() {
  for (;;) {
    FWake.WaitFor(UINT32_MAX);
    if (Terminated()) break;
    if (!FRequest) continue;
    bool ok = RunRequest();
    if (ok) ok = ReadBody();
    SettleCut();
    FConnection.Finish(ok && FKeep);
    if (ok) {
      FResponse.SetRangeEnd(0);
      FLastActivity = 0;
      FEvents.WorkerDone(*this);
    } else if (!Terminated()) {
      FEvents.WorkerFailed(*this);
    }
  }
  SettleCut();
  FEvents.WorkerFailed(*this);
}

// A cut range ends where it was cut, on success and failure alike: the rest
// belongs to the worker that took it and must not be put back.
void THttpWorker::SettleCut() {
  std::lock_guard<std::mutex> guard(FCutLock);
  if (FNext >= 0 && FStopAt >= 0 && FStopAt <= FResponse.RangeEnd()) FResponse.SetRangeEnd(FStopAt - 1);
  FNext = -1;
  FHandedOn = -1;
  FStopAt = -1;
}

bool THttpWorker::RunRequest() {
  FKeep = false;
  for (int round = 0; round < MaxRounds && !Terminated(); ++round) {
    FRound = round;
    Touch();
    // The connection of the previous range serves the next one when the
    // server kept it: no new handshake, and its window is already open.
    const TExchange exchange = FConnection.Exchange(*FRequest, Address(), round == 0 ? FAheadWanted : std::vector<std::string>(),
                                                    FResponse, FOptions.Limits);
    FConnectFailed = exchange == TExchange::ConnectFailed;
    if (exchange == TExchange::SendFailed) continue;
    if (exchange == TExchange::ReadFailed) FLastActivity = 1;
    if (exchange != TExchange::Answered) return false;
    const int next = FEvents.WorkerHeader(*this);
    if (next == 1) return true;  // ReadBody decides whether the connection stays
    if (next != 2) return false;
    FConnection.Close();
  }
  return false;
}

// Hands the buffered bytes on at the response's range start plus what was
// already delivered.
bool THttpWorker::Deliver() {
  if (FBlock.empty()) return true;
  const int64_t position = FResponse.RangeStart() + FResponse.Delivered();
  {
    // What another worker took over is its own to fetch.
    std::lock_guard<std::mutex> guard(FCutLock);
    if (FNext >= 0 && FStopAt >= 0 && position + static_cast<int64_t>(FBlock.size()) > FStopAt)
      FBlock.resize(static_cast<size_t>(std::max<int64_t>(FStopAt - position, 0)));
    if (FNext >= 0) FHandedOn = position + static_cast<int64_t>(FBlock.size());
  }
  if (FBlock.empty()) return true;
  const auto length = static_cast<int64_t>(FBlock.size());
  if (!FEvents.WorkerData(*this, FBlock, position)) return false;
  FResponse.SetDelivered(FResponse.Delivered() + length);
  FBlock.clear();
  if (FBlock.capacity() < BufferSize) FBlock.reserve(BufferSize);
  return true;
}

int64_t THttpWorker::RemainingBytes() const {
  std::lock_guard<std::mutex> guard(FCutLock);
  return FNext < 0 ? 0 : std::max<int64_t>(FStopAt - FNext, 0);
}

bool THttpWorker::CutRemainder(int64_t minimum, int64_t& start, int64_t& end) {
  std::lock_guard<std::mutex> guard(FCutLock);
  if (FNext < 0 || FStopAt - FNext < 2 * minimum) return false;
  const int64_t middle = FNext + (FStopAt - FNext) / 2;
  start = middle;
  end = FStopAt - 1;
  FStopAt = middle;
  return true;
}

bool THttpWorker::TakeRemainder(int64_t& start, int64_t& end) {
  std::lock_guard<std::mutex> guard(FCutLock);
  if (FNext < 0 || FStopAt - FHandedOn <= 0) return false;
  start = FHandedOn;
  end = FStopAt - 1;
  FStopAt = FHandedOn;
  return true;
}

bool THttpWorker::Figures(int64_t& bytes, uint32_t& ms, bool take) {
  const uint32_t given = take ? FGivenTick.exchange(0) : FGivenTick.load();
  if (given == 0) return false;
  bytes = FBodyBytes.load();
  ms = GetTickCount32() - given;
  return true;
}

bool THttpWorker::ReadBody() {
  FBlock.clear();
  // A partial answer brings at most the range asked for: once that is in,
  // the rest (a longer or endless body) is not read.
  const bool ranged = FResponse.Status() == 206 && FResponse.HasBoundedRange();
  {
    std::lock_guard<std::mutex> guard(FCutLock);
    const bool wasCut = FNext >= 0 && FStopAt <= FResponse.RangeEnd();
    // A whole-file answer to a range that was cut would bring bytes that
    // another worker fetches too: the request fails and its part goes back.
    if (!ranged && wasCut) return false;
    if (ranged) {
      FNext = FResponse.RangeStart() + FResponse.Delivered();
      FHandedOn = FNext;
      FStopAt = FStopAt >= 0 ? std::min(FStopAt, FResponse.RangeEnd() + 1) : FResponse.RangeEnd() + 1;
    }
  }
  bool rangeFull = false;
  const THttpBodySink sink = [this, ranged, &rangeFull](const char* data, size_t length) {
    Touch();
    FBodyBytes += static_cast<int64_t>(length);
    FAllBytes += static_cast<int64_t>(length);
    if (ranged) {
      std::lock_guard<std::mutex> guard(FCutLock);
      const int64_t room = FStopAt - FNext;
      if (room <= 0) {
        rangeFull = true;
        return false;
      }
      if (static_cast<int64_t>(length) > room) {
        length = static_cast<size_t>(room);
        rangeFull = true;
      }
      FNext += static_cast<int64_t>(length);
    }
    while (length > 0) {
      if (FBlock.size() == BufferSize && !Deliver()) return false;
      const size_t take = std::min(length, BufferSize - FBlock.size());
      FBlock.insert(FBlock.end(), data, data + take);
      data += take;
      length -= take;
    }
    return !rangeFull;
  };
  const THttpStopFlag stop = [this] { return Terminated(); };
  TBodyRead result;
  if (FResponse.IsChunked()) {
    uint64_t total = 0;
    THttpLimits limits = FOptions.Limits;
    limits.MaxBodySize = UINT64_MAX;  // a download may be any size
    result = ReadChunkedBody(FConnection.Socket(), limits, sink, stop, total);
    if (result == TBodyRead::ReadFailed) DebugOutput("ReadChunkedDocument ReadLine Error.");
  } else if (FResponse.ContentLength() > 0 || FResponse.HasField("Content-Length")) {
    result = ReadIdentityBody(FConnection.Socket(), static_cast<uint64_t>(FResponse.ContentLength()), sink, stop);
  } else if (FResponse.Status() == 200) {
    result = ReadBodyUntilClose(FConnection.Socket(), FOptions.MaxUnsizedBody, sink, stop);
  } else {
    result = TBodyRead::Ok;
  }
  bool cut = false;
  if (ranged) {
    std::lock_guard<std::mutex> guard(FCutLock);
    cut = FStopAt <= FResponse.RangeEnd();
  }
  if (result != TBodyRead::Ok && !rangeFull) {
    Deliver();  // what arrived is kept; the rest of the range goes back
    return false;
  }
  if (!Deliver()) return false;
  if (FResponse.IsChunked() || !FResponse.HasField("Content-Length"))
    FResponse.SetContentLength(FResponse.Delivered());
  // Only a partial answer read to its exact end leaves the connection ready
  // for another request, and only when the server means to keep it.
  const std::string connection = TrimText(FResponse.GetField("Connection"));
  // A cut range leaves the rest of the server's answer unread.
  const bool keep = result == TBodyRead::Ok && !rangeFull && !cut && FResponse.Status() == 206 &&
                    !FResponse.IsChunked() && FResponse.HasField("Content-Length") &&
                    !SameText(connection, "close") && FResponse.Version() != "HTTP/1.0" &&
                    SameText(TrimText(FRequest->GetField("Connection")), "keep-alive");
  FKeep = keep;
  return true;
}
