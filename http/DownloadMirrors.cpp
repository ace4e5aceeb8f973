// The download engine over several mirrors: which mirror each connection's
// request goes to, what each mirror delivered and how fast, and what
// happens to a mirror that fails (set aside, its work to the others).
#include <algorithm>

#include "common/Format.h"
#include "common/PathUtils.h"
#include "http/HttpDownload.h"
#include "http/RangeFetch.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/Tick.h"

namespace {

// A mirror this many times slower than the one taking over from it loses
// its range at once instead of half of it.
constexpr double TakeOverFactor = 4.0;
constexpr uint32_t MeasureEveryMs = 100;
// A mirror's speed counts once its requests have run this long together
// (its connections' times added up); setting it aside for slowness takes a
// longer look (MirrorSlowLookMs), over this file and those before it.
constexpr uint64_t MeasureMinimumMs = 300;

}  // namespace

size_t THttpDownload::PickMirror() {
  if (!FMirrors || FMirrors->MirrorOf(FUrl) == NoMirror) return NoMirror;
  std::vector<int> connections(FMirrors->Count(), 0);
  for (const size_t mirror : FSlotMirror)
    if (mirror < connections.size()) ++connections[mirror];
  if (FPinned != NoMirror && !FMirrors->IsSetAside(FPinned))
    return connections[FPinned] < FPerMirror ? FPinned : AllMirrorsBusy;
  const size_t mirror = FMirrors->Pick(connections, FPerMirror);
  return mirror == NoMirror ? AllMirrorsBusy : mirror;
}

std::unique_ptr<THttpHeader> THttpDownload::MirrorRequest(const THttpHeader& request, size_t mirror) {
  auto moved = std::make_unique<THttpHeader>();
  moved->SetRequest("GET", mirror == NoMirror ? request.Url() : FMirrors->MapUrl(mirror, request.Url()));
  if (request.HasField("Range")) moved->SetRange(request.RangeStart(), request.RangeEnd());
  if (request.HasField("Connection")) moved->SetField("Connection", request.GetField("Connection"));
  return moved;
}

void THttpDownload::AimWorker(THttpWorker& worker, size_t mirror) {
  const auto slot = static_cast<size_t>(worker.Index() - 1);
  if (slot < FSlotSample.size() && FSlotMirror[slot] != mirror) FSlotSample[slot] = {0, 0};
  FSlotMirror[slot] = mirror;
  if (mirror == NoMirror) return;
  // The owner's addresses are those of the URL's own host.
  if (mirror != FMirrors->MirrorOf(FUrl)) worker.ClearAddress();
  worker.SetConnectTimeout(FMirrors->ConnectBound(FOptions.Worker.ConnectTimeoutMs));
}

bool THttpDownload::SetAsideMirror(THttpWorker& worker, const std::string& why) {
  const auto slot = static_cast<size_t>(worker.Index() - 1);
  if (!FMirrors || slot >= FSlotMirror.size()) return false;
  const size_t mirror = FSlotMirror[slot];
  if (mirror == NoMirror || !FMirrors->SetAside(mirror, why)) return false;
  FSlotMirror[slot] = NoMirror;
  return true;
}

int THttpDownload::ProbeElsewhere(THttpWorker& worker) {
  if (FState != Started) return 0;
  const size_t next = PickMirror();
  AimWorker(worker, next);
  worker.ReplaceRequest(MirrorRequest(worker.Request(), next));
  return 2;
}

std::string THttpDownload::ConnectFailure(THttpWorker& worker) const {
  const uint32_t bound = FMirrors ? FMirrors->ConnectBound(FOptions.Worker.ConnectTimeoutMs)
                                  : FOptions.Worker.ConnectTimeoutMs;
  const std::string error = worker.Socket().ErrorText();
  return Format("no connection within %u s", (bound + 999) / 1000) + (error.empty() ? "" : " (" + error + ")");
}

void THttpDownload::NoteDelivery(THttpWorker& worker, size_t length) {
  if (!FMirrors || length == 0) return;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const size_t mirror = FSlotMirror[static_cast<size_t>(worker.Index() - 1)];
  if (mirror >= FDelivered.size()) return;
  FDelivered[mirror] += static_cast<int64_t>(length);
  FMirrors->AddBytes(mirror, static_cast<int64_t>(length));
}

void THttpDownload::NoteAnswer(THttpWorker& worker) {
  if (!FMirrors) return;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const size_t mirror = FSlotMirror[static_cast<size_t>(worker.Index() - 1)];
  int64_t bytes = 0;
  uint32_t ms = 0;
  if (worker.Figures(bytes, ms, true) && mirror != NoMirror && bytes > 0) FMirrors->AddAnswer(mirror, bytes, ms);
}

double THttpDownload::MirrorSpeed(size_t mirror, uint64_t& ms) const {
  std::pair<int64_t, uint64_t> total = FMirrors->Answered(mirror);
  for (size_t slot = 0; slot < FWorkers.size(); ++slot) {
    if (!FWorkers[slot] || FSlotMirror[slot] != mirror || FSlotIdle[slot]) continue;
    int64_t bytes = 0;
    uint32_t elapsed = 0;
    if (!FWorkers[slot]->Figures(bytes, elapsed)) continue;
    total.first += bytes;
    total.second += elapsed;
  }
  ms = total.second;
  return total.second == 0 ? 0.0 : static_cast<double>(total.first) * 1000.0 / static_cast<double>(total.second);
}

void THttpDownload::MeasureMirrors() {
  if (!FMirrors) return;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const uint32_t now = GetTickCount32();
  if (now - FRateTick < MeasureEveryMs) return;
  FRateTick = now;
  FSlotSample.resize(FWorkers.size(), {0, 0});
  // Each busy connection's bytes since the last measure.
  for (size_t slot = 0; slot < FWorkers.size(); ++slot) {
    THttpWorker* worker = FWorkers[slot].get();
    const size_t mirror = FSlotMirror[slot];
    std::pair<int64_t, uint32_t>& sample = FSlotSample[slot];
    if (!worker || mirror == NoMirror || FSlotIdle[slot]) {
      sample = {0, 0};
      continue;
    }
    const int64_t read = worker->BytesRead();
    if (sample.second != 0 && read > sample.first)
      FMirrors->NoteRate(mirror, static_cast<double>(read - sample.first) * 1000.0 / std::max<uint32_t>(now - sample.second, 1));
    sample = {read, now};
  }
  // Workers that fell idle before the rates told a slow mirror apart take
  // over its ranges now.
  if (!FRanges || FList || FState != Running || FFinished) return;
  for (size_t slot = 0; slot < FWorkers.size(); ++slot) {
    TByteRange range;
    if (!FWorkers[slot] || !FSlotIdle[slot]) continue;
    const size_t mirror = PickMirror();
    if (mirror >= FMirrors->Count() || !TakeOverSlow(*FWorkers[slot], range)) continue;
    --FIdleWorkers;
    GiveRange(*FWorkers[slot], range, mirror, "%d# \xCF\xDF\xB3\xCC\xBF\xAA\xCA\xBC:%lld->%lld(%lld)");  // "%d# 线程开始:%lld->%lld(%lld)"
  }
}

// The tail on a slow mirror: a worker of a much faster one takes all of what
// is still to come of the range that would end last, and a mirror slower
// still is set aside.
bool THttpDownload::TakeOverSlow(THttpWorker& idle, TByteRange& range) {
  if (!FMirrors) return false;
  const size_t fast = PickMirror();
  if (fast == NoMirror || fast == AllMirrorsBusy) return false;
  uint64_t fastMs = 0, slowMs = 0;
  const double fastRate = MirrorSpeed(fast, fastMs);
  if (fastRate <= 0) return false;
  THttpWorker* slowest = nullptr;
  double latest = 0, slowRate = 0;
  for (size_t slot = 0; slot < FWorkers.size(); ++slot) {
    THttpWorker* worker = FWorkers[slot].get();
    const size_t mirror = FSlotMirror[slot];
    if (!worker || worker == &idle || mirror == NoMirror || mirror == fast) continue;
    uint64_t ms = 0;
    const double rate = MirrorSpeed(mirror, ms);
    const int64_t remaining = worker->RemainingBytes();
    if (ms < MeasureMinimumMs || remaining <= 0 || rate * TakeOverFactor > fastRate) continue;
    const double finish = static_cast<double>(remaining) / rate;
    if (finish > latest) {
      latest = finish;
      slowest = worker;
      slowRate = rate;
      slowMs = ms;
    }
  }
  if (!slowest || !slowest->TakeRemainder(range.start, range.end)) return false;
  const size_t slow = FSlotMirror[static_cast<size_t>(slowest->Index() - 1)];
  DebugOutput(Format("%d# => %d# %lld->%lld", slowest->Index(), idle.Index(), static_cast<long long>(range.start),
                     static_cast<long long>(range.end)));
  FMirrors->SetAsideIfSlow(slow, slowRate, slowMs, fast, fastRate);
  return true;
}

// A file spread over several mirrors is fetched again from the fastest of
// them; those that delivered it are set aside once that copy is right. A
// file from one mirror only sets that mirror aside and goes to the fastest
// other.
bool THttpDownload::Refetch(THttpWorker* by) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (!FMirrors || !FRanges || FState != Running) return false;
  std::vector<size_t> delivered;
  for (size_t m = 0; m < FDelivered.size(); ++m)
    if (FDelivered[m] > 0) delivered.push_back(m);
  size_t next = NoMirror;
  if (delivered.size() > 1) {
    FSuspects = delivered;
    next = FMirrors->Fastest(delivered);
  } else if (delivered.size() == 1 &&
             FMirrors->SetAside(delivered[0], "delivered bytes that failed the file's MD5")) {
    next = FMirrors->Fastest();
  }
  if (next == NoMirror) return false;
  DebugOutput(Format("%s: failed its MD5, fetched again from %s", FileName().c_str(), FMirrors->Base(next).c_str()));
  FPinned = next;
  std::fill(FDelivered.begin(), FDelivered.end(), 0);
  {
    std::lock_guard<std::mutex> checkpoint(FCheckpointLock);
    if (const std::shared_ptr<TResumeRecord> record = Record()) record->Remove();
    std::lock_guard<std::mutex> writer(FWriterLock);
    FRecord.reset();
  }
  DeleteFileAt(PathOf(".!tmp"));
  FreshStart();
  if (!Writer()) return false;
  FFinished = false;
  FIdleWorkers = 0;
  for (size_t slot = 0; slot < FWorkers.size(); ++slot) {
    THttpWorker* worker = FWorkers[slot].get();
    if (worker && (worker == by || FSlotIdle[slot]))
      GiveNextRange(*worker, "%d# \xCF\xDF\xB3\xCC\xBF\xAA\xCA\xBC:%lld->%lld(%lld)");  // "%d# 线程开始:%lld->%lld(%lld)"
  }
  return true;
}
