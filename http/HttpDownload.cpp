#include "http/HttpDownload.h"

#include <zlib.h>

#include <algorithm>

#include "common/DelimitedText.h"
#include "common/Format.h"
#include "common/Log.h"
#include "common/Md5.h"
#include "common/PathUtils.h"
#include "http/FetchedFile.h"
#include "http/RangeFetch.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Profile.h"
#include "platform/Tick.h"

namespace {

// One name inside the folder: not empty, not of dots only, and no
// separator, drive or stream colon, or control character (the trail byte of
// a double-byte character is no separator).
bool IsPlainFileName(const std::string& name) {
  if (name.find_first_not_of('.') == std::string::npos) return false;
  // A device name ("com1.bin") or one Windows changes ("a.bin."): the file,
  // its ".!tmp" and its ".!dl" would be the device or another file.
  if (IsReservedComponent(name)) return false;
  for (size_t i = 0; i < name.size(); i = NextCharIndex(name, i)) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == ':' || c == '/' || c == '\\') return false;
  }
  return true;
}

}  // namespace

THttpDownload::THttpDownload(int workers, const TDownloadOptions& options)
    : FOptions(options), FWorkerCount(workers), FFolder(LauncherFolder()) {
  if (options.Worker.Mirrors && options.Worker.Mirrors->Count() > 1) {
    FMirrors = options.Worker.Mirrors;
    FDelivered.assign(FMirrors->Count(), 0);
  }
}

THttpDownload::~THttpDownload() {
  FState = Stopping;
  // Each worker's last failed report puts its unfinished range back.
  for (size_t i = 0;; ++i) {
    std::unique_ptr<THttpWorker> worker;
    {
      std::lock_guard<std::recursive_mutex> guard(FLock);
      if (i >= FWorkers.size()) break;
      worker = std::move(FWorkers[i]);
    }
    worker.reset();
  }
  std::shared_ptr<TBGFileStream> writer;
  {
    std::lock_guard<std::mutex> guard(FWriterLock);
    writer = std::move(FWriter);
  }
  std::lock_guard<std::recursive_mutex> guard(FLock);
  const std::shared_ptr<TResumeRecord> record = Record();
  try {
    // The data must be on the disk before the resume file says it is.
    if (writer && record) writer->Close();
  } catch (const std::exception& e) {
    DebugOutput(std::string("download writer: ") + e.what());
  }
  writer.reset();
  FRanges.reset();
  // The last checkpoint: exactly the bytes that are not on the disk.
  std::lock_guard<std::mutex> checkpoint(FCheckpointLock);
  if (record && !FPlaced) record->Save();
}

void THttpDownload::SetAddresses(const std::vector<std::string>& addresses) { FAddresses = addresses; }

std::string THttpDownload::FileNameFromUrl(const std::string& url) {
  const size_t slash = LastSeparator(url);
  const std::string last = slash == std::string::npos ? url : url.substr(slash + 1);
  const size_t question = last.rfind('?');
  if (question == std::string::npos) return last;
  const std::string before = last.substr(0, question);
  if (before.find('&', 1) != std::string::npos) return last.substr(question + 1);
  return before;
}

std::string THttpDownload::FileName() const {
  std::lock_guard<std::mutex> guard(FTextLock);
  return FFileName;
}

void THttpDownload::SetFileName(const std::string& name) {
  std::lock_guard<std::mutex> guard(FTextLock);
  FFileName = name;
}

std::string THttpDownload::ErrorText() const {
  std::lock_guard<std::mutex> guard(FTextLock);
  return FErrorText;
}

void THttpDownload::SetError(const std::string& text) {
  std::lock_guard<std::mutex> guard(FTextLock);
  FErrorText = text;
}

std::string THttpDownload::ServerTime() const {
  std::lock_guard<std::mutex> guard(FTextLock);
  return FServerTime;
}

std::string THttpDownload::PathOf(const char* suffix) const { return FFolder + FileName() + suffix; }
std::string THttpDownload::TargetPath() const { return PathOf(""); }
uint32_t THttpDownload::Elapsed() const { return GetTickCount32() - FStartTick; }

void THttpDownload::RaiseError() {
  if (FErrorRaised.exchange(true)) return;
  if (OnError) OnError(*this);
}

void THttpDownload::Fail(const std::string& text) {
  SetError(text);
  TState state = FState;
  while (state != Stopping && !FState.compare_exchange_weak(state, Failed)) {
  }
  RaiseError();
}

void THttpDownload::WriterFailed(int64_t position, const std::string& reason) {
  FWriteFailed = true;
  Fail(Format("%s: write error at %lld: %s", PathOf(".!tmp").c_str(), static_cast<long long>(position), reason.c_str()));
}

bool THttpDownload::CountRestart() {
  if (++FRestarts <= FOptions.MaxRestartsWithoutProgress) return true;
  Fail(Format("%s: gave up after %d restarts in a row whose answers brought less than %lld bytes each",
              FileName().c_str(), FOptions.MaxRestartsWithoutProgress,
              static_cast<long long>(FOptions.UsefulAnswerBytes)));
  return false;
}

THttpWorker& THttpDownload::CreateWorker(int slot) {
  std::string address;
  if (!FAddresses.empty()) address = FAddresses[FNextAddress++ % FAddresses.size()];
  const auto at = static_cast<size_t>(slot);
  FWorkers[at] = std::make_unique<THttpWorker>(slot + 1, address, static_cast<THttpWorkerEvents&>(*this), FOptions.Worker);
  if (FSlotMirror.size() < FWorkers.size()) {
    FSlotMirror.resize(FWorkers.size(), NoMirror);
    FSlotIdle.resize(FWorkers.size(), 0);
  }
  FSlotMirror[at] = NoMirror;
  FSlotIdle[at] = 0;
  return *FWorkers[at];
}

bool THttpDownload::Start(const std::string& url, const std::string& folder, int64_t expectedSize) {
  TState idle = Idle;
  if (!FState.compare_exchange_strong(idle, Started)) return false;
  FExpectedSize = expectedSize < 0 ? UnknownDownloadSize : expectedSize;
  FUrl = UrlSlashes(url);
  // The caller names the file, or else the URL it asked for; never a server.
  const std::string name = FTargetName.empty() ? FileNameFromUrl(FUrl) : FTargetName;
  if (!IsPlainFileName(name)) {
    SetError("no plain file name to store " + FUrl + " under: \"" + name + "\"");
    FState = Failed;
    return false;
  }
  SetFileName(name);
  if (!folder.empty()) {
    FFolder = folder;
    ForceDirectories(folder);
  }
  auto request = std::make_unique<THttpHeader>();
  request->SetRequest("GET", FUrl);
  if (FWorkerCount > 0) request->SetRange(0, 0);
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (FWorkers.empty()) {
    if (FWorkerCount < 1) FWorkerCount = 1;
    // As many connections to each mirror in use as to one server.
    FPerMirror = FWorkerCount;
    if (FMirrors && FMirrors->MirrorOf(FUrl) != NoMirror)
      FWorkerCount = FWorkerCount * static_cast<int>(FMirrors->InUse());
    FWorkers.resize(static_cast<size_t>(FWorkerCount.load()));
    for (int i = 0; i < FWorkerCount; ++i) {
      CreateWorker(i);
      DebugOutput(Format("%d# \xCF\xDF\xB3\xCC\xB4\xB4\xBD\xA8.", i + 1));  // "%d# 线程创建."
    }
  }
  FIdleWorkers = 0;
  FStartTick = GetTickCount32();
  FProgressTick = FStartTick;
  FUsefulTick = FStartTick;
  FCheckpointTick = FStartTick;
  if (FMirrors && FMirrors->MirrorOf(FUrl) != NoMirror) {
    // The probe goes to the first mirror still in use.
    const size_t mirror = FMirrors->IsSetAside(0) ? PickMirror() : 0;
    request = MirrorRequest(*request, mirror);
    AimWorker(*FWorkers[0], mirror);
  }
  FWorkers[0]->GiveRequest(std::move(request));
  return true;
}

bool THttpDownload::StartList(const std::string& url, TRangeList& list) {
  TState idle = Idle;
  if (!FState.compare_exchange_strong(idle, Running)) return false;
  FUrl = url;
  FList = &list;
  SetFileName(FileNameFromUrl(url));  // for the log; nothing is stored under it
  FExpectedSize = list.FileSize();
  FTotalSize = list.FileSize();
  FStartTick = GetTickCount32();
  FProgressTick = FStartTick;
  FUsefulTick = FStartTick;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (list.Wanted() == 0) {
    FFinished = true;
    if (OnDone) OnDone(*this);
    return true;
  }
  if (FWorkerCount < 1) FWorkerCount = 1;
  // The caller counted the connections for all mirrors in use.
  if (FMirrors) FPerMirror = (FWorkerCount + static_cast<int>(FMirrors->InUse()) - 1) / static_cast<int>(FMirrors->InUse());
  FWorkers.resize(static_cast<size_t>(FWorkerCount.load()));
  for (int i = 0; i < FWorkerCount; ++i) CreateWorker(i);
  for (int i = 0; i < FWorkerCount; ++i)
    GiveNextRange(*FWorkers[static_cast<size_t>(i)], "%d# \xCF\xDF\xB3\xCC\xBF\xAA\xCA\xBC.%lld->%lld(%lld)");  // "%d# 线程开始.%lld->%lld(%lld)"
  return true;
}

int THttpDownload::RequestsSentAhead() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  int count = FRetiredAhead;
  for (const std::unique_ptr<THttpWorker>& worker : FWorkers)
    if (worker) count += worker->RequestsSentAhead();
  return count;
}

// --- answers -------------------------------------------------------------

int THttpDownload::WorkerHeader(THttpWorker& worker) {
  if (FState == Stopping) return 0;
  THttpHeader& response = worker.Response();
  DebugOutput(Format("%d# %d", worker.Index(), response.Status()));
  if (FList) return ListHeader(worker);
  std::lock_guard<std::recursive_mutex> guard(FLock);
  switch (response.Status()) {
    case 200:
      return HeaderOk(worker);
    case 206:
      return HeaderPartial(worker);
    case 301:
    case 302:
      return HeaderMoved(worker, true);
    case 416:
      if (FState != Started) {
        // ":续传范围错误:"
        SetError(worker.Socket().PeerText() + ":\xD0\xF8\xB4\xAB\xB7\xB6\xCE\xA7\xB4\xED\xCE\xF3:" +
                 worker.Request().GetField("Range"));
        return 2;
      }
      if (!worker.Request().HasField("Range")) {
        // The plain request after a refused probe is refused as well.
        FState = Failed;
        SetError(worker.Socket().PeerText() + " 416 " + response.Reason() + " " + worker.Request().Path());
        return 0;
      }
      // "No ranges here": one plain request for the whole file follows.
      worker.Request().ClearRange();
      SetError(worker.Socket().PeerText() + ":\xB7\xFE\xCE\xF1\xC6\xF7\xB2\xBB\xD6\xA7\xB3\xD6\xD0\xF8\xB4\xAB");  // ":服务器不支持续传"
      return HeaderMoved(worker, false);
    default:
      if (response.Status() <= 0) return 0;
      if (response.Status() >= 400 && SetAsideMirror(worker, Format("answered %d %s", response.Status(), response.Reason().c_str())))
        return ProbeElsewhere(worker);
      FState = Failed;
      SetError(worker.Socket().PeerText() + " " + std::to_string(response.Status()) + " " + response.Reason() + " " +
               worker.Request().Path());
      return 0;
  }
}

// A whole-file answer: one connection, no ranges, no resume. An answer
// without "Content-Length" that is not chunked is read until the server
// closes the connection.
int THttpDownload::HeaderOk(THttpWorker& worker) {
  if (FState != Started && FRanges) {
    // The whole file where a range was asked for: its bytes would land at
    // the range's place. The range goes back to the list.
    SetError(worker.Socket().PeerText() + " 200 to a range request " + worker.Request().Path());
    return 0;
  }
  if (FState == Started) {
    THttpHeader& response = worker.Response();
    {
      std::lock_guard<std::mutex> guard(FTextLock);
      FServerTime = response.HasField("Last-Modified") ? response.GetField("Last-Modified") : response.GetField("Date");
    }
    if (response.IsChunked()) {
      DebugOutput("\xB2\xC9\xD3\xC3" "CHUNKED\xC4\xA3\xCA\xBD\xB5\xA5\xCF\xDF\xB3\xCC\xB4\xAB\xCA\xE4");  // "采用CHUNKED模式单线程传输"
    } else {
      FTotalSize = response.RangeTotal() > 0 ? response.RangeTotal() : response.ContentLength();
      if (FWorkerCount > 1) {
        DebugOutput("\xB2\xBB\xD6\xA7\xB3\xD6\xD0\xF8\xB4\xAB\xA3\xAC\xB2\xC9\xD3\xC3\xB5\xA5\xCF\xDF\xB3\xCC\xCF\xC2\xD4\xD8");  // "不支持续传，采用单线程下载"
        FWorkerCount = 1;
      }
    }
    FContentCoding = response.ContentCoding();
    if (!BoundWholeBody(worker)) return 0;
    if (!OpenWriter(true)) return 0;
    FState = Running;
  }
  return 1;
}

// A whole-file answer never brings more than the run expects: a length that
// differs fails at once, and a body without one stops at the expected size
// (a compressed body may be a little larger than the file it inflates to).
bool THttpDownload::BoundWholeBody(THttpWorker& worker) {
  if (FExpectedSize < 0) return true;
  THttpHeader& response = worker.Response();
  if (FContentCoding != 0) {
    FBodyLimit = FExpectedSize + FExpectedSize / 8 + 65536;
    return true;
  }
  if (!response.IsChunked() && response.HasField("Content-Length") && response.ContentLength() != FExpectedSize) {
    SetError(Format("%s File (%s) Length Error: %lld <> %lld", worker.Socket().PeerText().c_str(),
                    worker.Request().Path().c_str(), static_cast<long long>(response.ContentLength()),
                    static_cast<long long>(FExpectedSize)));
    FState = Failed;
    return false;
  }
  FBodyLimit = FExpectedSize;
  return true;
}

int THttpDownload::HeaderPartial(THttpWorker& worker) {
  THttpHeader& response = worker.Response();
  if (FExpectedSize >= 0 && response.RangeTotal() != FExpectedSize) {
    if (SetAsideMirror(worker, Format("serves %lld bytes where %lld are expected", static_cast<long long>(response.RangeTotal()),
                                      static_cast<long long>(FExpectedSize))))
      return ProbeElsewhere(worker);
    SetError(Format("%s File (%s) Length Error: %lld <> %lld", worker.Socket().PeerText().c_str(),
                    worker.Request().Path().c_str(), static_cast<long long>(response.RangeTotal()),
                    static_cast<long long>(FExpectedSize)));
    FState = Failed;
    return 0;
  }
  const bool first = FState == Started;
  FState = Running;
  if (first) response.SetContentLength(0);  // the probe byte is not read
  return InitFile(worker, first, true) ? 1 : 0;
}

// A redirect keeps the range, sends the cookie and names the page it came
// from; a 416 to the probe repeats it without a range.
int THttpDownload::HeaderMoved(THttpWorker& worker, bool redirect) {
  THttpHeader& response = worker.Response();
  if (redirect && worker.Round() + 1 >= THttpWorker::MaxRounds) {
    // The worker would give up silently and leave the download to the
    // no-progress time-out; a redirect loop is a failure of its own.
    SetError(Format("Too many redirects: more than %d, last Location: %s", THttpWorker::MaxRounds - 1,
                    response.GetField("Location").c_str()));
    FState = Failed;
    return 0;
  }
  if (redirect) {
    auto moved = std::make_unique<THttpHeader>();
    std::string refusal;
    if (!RedirectRequest(worker.Request(), response, *moved, refusal)) {
      SetError(refusal);
      LogError(refusal);
      FState = Failed;
      return 0;
    }
    worker.ReplaceRequest(std::move(moved));
  } else {
    if (response.HasField("Set-Cookie")) worker.Request().SetField("Cookie", response.GetField("Set-Cookie"));
    worker.Request().SetField("Referer", response.Url());
  }
  worker.ClearAddress();
  return 2;
}

// A range of a list: a redirect is followed and taken for the later ranges
// too; anything but exactly the range asked for ends the fetch.
int THttpDownload::ListHeader(THttpWorker& worker) {
  if (FState != Running) return 0;
  const int status = worker.Response().Status();
  if (status == 301 || status == 302) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    const int next = HeaderMoved(worker, true);
    if (next == 2) {
      worker.Request().SetField("Connection", "keep-alive");
      FList->Moved(worker.Request());
      // Replacement workers resolve the host the ranges moved to.
      FAddresses.clear();
    }
    return next;
  }
  const std::string mismatch = FList->Mismatch(static_cast<size_t>(worker.Index() - 1), worker.Response());
  if (mismatch.empty()) return 1;
  // Another mirror takes the range.
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (SetAsideMirror(worker, mismatch)) return 0;
  Fail(mismatch);
  return 0;
}

// The sink checks the range outside the lock: the other workers go on.
void THttpDownload::ListDone(THttpWorker& worker) {
  if (FState != Running || FFinished) return;
  std::string error;
  if (!FList->End(static_cast<size_t>(worker.Index() - 1), error)) {
    Fail(error);
    return;
  }
  if (FList->Left() == 0) {
    if (!FFinished.exchange(true) && OnDone) OnDone(*this);
    return;
  }
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (FState != Running) return;
  GiveNextRange(worker, "%d# \xCF\xDF\xB3\xCC\xBF\xAA\xCA\xBC:%lld->%lld(%lld)");  // "%d# 线程开始:%lld->%lld(%lld)"
}

// A failed or ended connection gives its ranges back; the one it read is
// asked again a few times.
void THttpDownload::ListFailed(THttpWorker& worker) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (FFinished) return;
  if (worker.ConnectFailed() && !worker.Terminated() && FState == Running) SetAsideMirror(worker, ConnectFailure(worker));
  FSlotMirror[static_cast<size_t>(worker.Index() - 1)] = NoMirror;
  std::string error;
  if (!FList->Failed(static_cast<size_t>(worker.Index() - 1), FState == Running, worker.Response().ErrorText(),
                     error)) {
    Fail(error);
    return;
  }
  if (FState == Failed) {
    RaiseError();
    return;
  }
  // A worker that is ending is replaced by Poll once it has gone.
  if (FState == Stopping || worker.Terminated() || !CountRestart()) return;
  GiveNextRange(worker, "%d# \xCF\xDF\xB3\xCC\xD6\xD8\xC6\xF4:%lld->%lld(%lld)");  // "%d# 线程重启:%lld->%lld(%lld)"
}

bool THttpDownload::InitFile(THttpWorker& worker, bool firstAnswer, bool withRanges) {
  THttpHeader& response = worker.Response();
  const std::string url = response.Url().empty() ? worker.Request().Url() : response.Url();
  if (!firstAnswer) {
    return response.RangeTotal() == FTotalSize && SameText(FileNameFromUrl(url), FServedName);
  }
  FServedName = FileNameFromUrl(url);
  FTotalSize = response.RangeTotal() != 0 ? response.RangeTotal() : response.ContentLength();
  if (FTotalSize == 0) return false;
  {
    std::lock_guard<std::mutex> guard(FTextLock);
    FServerTime = response.HasField("Last-Modified") ? response.GetField("Last-Modified") : response.GetField("Date");
  }
  FContentCoding = response.ContentCoding();
  if (!withRanges) return Writer() != nullptr || OpenWriter(true);
  if (!Resume()) FreshStart();
  if (!Writer()) return false;
  StartRanges();
  DebugOutput("\xB4\xB4\xBD\xA8\xC1\xCB " + std::to_string(FWorkerCount.load()) + " \xB8\xF6\xCF\xC2\xD4\xD8\xCF\xDF\xB3\xCC.");  // "创建了 " / " 个下载线程."
  return true;
}

// --- ranges and files ---------------------------------------------------

std::shared_ptr<TBGFileStream> THttpDownload::Writer() {
  std::lock_guard<std::mutex> guard(FWriterLock);
  return FWriter;
}

bool THttpDownload::OpenWriter(bool truncateToTotal) {
  std::lock_guard<std::mutex> guard(FWriterLock);
  if (FWriter) return true;
  const std::string path = PathOf(".!tmp");
  // A whole-file answer keeps no record: the record of an earlier ranged
  // start would otherwise outlive it and, after a stop, pair its ranges with
  // this shorter temporary file.
  if (!FRecord) DeleteFileAt(PathOf(".!dl"));
  try {
    // A fresh start reuses the old temporary file: anything beyond the new
    // size would otherwise end up in the target.
    if (truncateToTotal && FileExists(path)) TFileStream(path, TFileMode::ReadWrite).Truncate(FTotalSize);
    FWriter = std::make_shared<TBGFileStream>(path, FOptions.WriterQueueLimit);
  } catch (const EFileError& e) {
    SetError(e.what());
    return false;
  }
  const std::shared_ptr<TResumeRecord> record = FRecord;
  FWriter->OnWritten = [this, record](int64_t position, int64_t length) {
    if (record) record->MarkWritten(position, length);
    const int64_t written = FWritten += length;
    FProgressTick = GetTickCount32();
    if (OnWritten) OnWritten(*this, Elapsed(), FTotalSize, written);
  };
  FWriter->OnWriteError = [this](int64_t position, const std::string& reason) { WriterFailed(position, reason); };
  return true;
}

std::shared_ptr<TResumeRecord> THttpDownload::Record() {
  std::lock_guard<std::mutex> guard(FWriterLock);
  return FRecord;
}

bool THttpDownload::Resume() {
  const std::string resume = PathOf(".!dl");
  if (!FileExists(resume) || !FileExists(PathOf(".!tmp"))) return false;
  int64_t size = -1;
  if (!ParseDecimal(ReadIniString(resume, "Setup", "FileSize", ""), size) || size != FTotalSize) return false;
  auto ranges = std::make_unique<TDownLoadChunk>(resume);
  const int loaded = ranges->LoadFromResume(FTotalSize);
  ranges->DetachResumeFile();
  if (loaded <= 0) {
    DeleteFileAt(resume);
    return false;
  }
  auto record = std::make_shared<TResumeRecord>(resume, FTotalSize, FUrl, ServerTime());
  record->SetMissing(ranges->Ranges());
  {
    std::lock_guard<std::mutex> guard(FWriterLock);
    FRecord = record;
  }
  if (!OpenWriter(false)) return false;
  ranges->Split(FWorkerCount);
  const int64_t done = record->WrittenBytes();
  FRanges = std::move(ranges);
  FReceived = done;
  FWritten = done;
  FResumed = done;
  return true;
}

void THttpDownload::FreshStart() {
  FReceived = 0;
  FWritten = 0;
  FResumed = 0;
  // The list hands out ranges; the record of the bytes written keeps the
  // resume file.
  FRanges = std::make_unique<TDownLoadChunk>("");
  FRanges->Add(0, FTotalSize - 1);
  FRanges->Split(FWorkerCount);
  DebugOutput(Format("\xCE\xC4\xBC\xFE\xB3\xA4\xB6\xC8\xA3\xBA%d-%lld", 0, static_cast<long long>(FTotalSize - 1)));  // "文件长度：%d-%lld"
  auto record = std::make_shared<TResumeRecord>(PathOf(".!dl"), FTotalSize, FUrl, ServerTime());
  record->SetMissing({{0, FTotalSize - 1}});
  {
    std::lock_guard<std::mutex> guard(FWriterLock);
    FRecord = record;
  }
  record->Save();
  OpenWriter(true);
}

void THttpDownload::StartRanges() {
  for (int i = 1; i < FWorkerCount && static_cast<size_t>(i) < FWorkers.size(); ++i)
    if (FWorkers[static_cast<size_t>(i)] && !GiveNextRange(*FWorkers[static_cast<size_t>(i)], "%d# \xCF\xDF\xB3\xCC\xBF\xAA\xCA\xBC.%lld->%lld(%lld)"))  // "%d# 线程开始.%lld->%lld(%lld)"
      break;
}

bool THttpDownload::GiveNextRange(THttpWorker& worker, const char* logFormat) {
  const auto slot = static_cast<size_t>(worker.Index() - 1);
  FSlotMirror[slot] = NoMirror;
  const size_t mirror = PickMirror();
  if (mirror == AllMirrorsBusy) {
    FSlotIdle[slot] = 1;
    ++FIdleWorkers;
    return false;
  }
  if (FList) {
    std::unique_ptr<THttpHeader> request;
    std::vector<std::string> ahead;
    FList->SetSlotMirror(slot, mirror);
    if (!FList->Take(slot, request, ahead)) {
      FSlotIdle[slot] = 1;
      ++FIdleWorkers;
      return false;
    }
    FSlotIdle[slot] = 0;
    AimWorker(worker, mirror);
    DebugOutput(Format(logFormat, worker.Index(), static_cast<long long>(request->RangeStart()),
                       static_cast<long long>(request->RangeEnd()),
                       static_cast<long long>(request->RangeEnd() + 1 - request->RangeStart())));
    worker.GiveRequest(std::move(request), std::move(ahead));
    return true;
  }
  TByteRange range;
  if (!FRanges || (!FRanges->Take(range) && !TakeOverSlow(worker, range) && !TakeFromBusiest(worker, range))) {
    FSlotIdle[slot] = 1;
    ++FIdleWorkers;
    return false;
  }
  GiveRange(worker, range, mirror, logFormat);
  return true;
}

void THttpDownload::GiveRange(THttpWorker& worker, const TByteRange& range, size_t mirror, const char* logFormat) {
  FSlotIdle[static_cast<size_t>(worker.Index() - 1)] = 0;
  AimWorker(worker, mirror);
  auto request = std::make_unique<THttpHeader>();
  request->SetRequest("GET", mirror == NoMirror ? FUrl : FMirrors->MapUrl(mirror, FUrl));
  request->SetRange(range.start, range.end);
  // A worker keeps its connection for its next range where the server allows.
  request->SetField("Connection", "keep-alive");
  DebugOutput(Format(logFormat, worker.Index(), static_cast<long long>(range.start), static_cast<long long>(range.end),
                     static_cast<long long>(range.Length())));
  worker.GiveRequest(std::move(request));
}

// The split hands out a fixed number of ranges, which rarely divides evenly
// among the workers: without this, the last ranges end on one or two
// connections while the others wait. A worker left without a range takes
// the second half of what the busiest worker still has to read.
bool THttpDownload::TakeFromBusiest(THttpWorker& idle, TByteRange& range) {
  THttpWorker* busiest = nullptr;
  int64_t most = 0;
  for (const std::unique_ptr<THttpWorker>& worker : FWorkers) {
    if (!worker || worker.get() == &idle) continue;
    const int64_t remaining = worker->RemainingBytes();
    if (remaining > most) {
      most = remaining;
      busiest = worker.get();
    }
  }
  if (!busiest || !busiest->CutRemainder(TDownLoadChunk::MinRangeSize, range.start, range.end)) return false;
  DebugOutput(Format("%d# -> %d# %lld->%lld", busiest->Index(), idle.Index(), static_cast<long long>(range.start),
                     static_cast<long long>(range.end)));
  return true;
}

// --- data and completion -------------------------------------------------

bool THttpDownload::WorkerData(THttpWorker& worker, std::vector<char>& block, int64_t position) {
  if (FState == Stopping || FState == Failed) return false;
  const std::shared_ptr<TBGFileStream> writer = Writer();
  if (!writer && !FList) return false;
  // A server sending more than the range asked for never writes past it.
  size_t length = block.size();
  const int64_t rangeEnd = worker.Response().RangeEnd();
  if (rangeEnd > 0 && position + static_cast<int64_t>(length) > rangeEnd + 1)
    length = position > rangeEnd ? 0 : static_cast<size_t>(rangeEnd + 1 - position);
  const int64_t limit = FBodyLimit;
  if (limit >= 0 && position + static_cast<int64_t>(length) > limit) {
    Fail(Format("%s: the body exceeds the expected %lld bytes", FileName().c_str(), static_cast<long long>(limit)));
    return false;
  }
  if (FList) {
    // A list's ranges go to its sink as they come.
    if (length > 0 && !FList->Data(static_cast<size_t>(worker.Index() - 1), position, block.data(), length)) {
      // Bytes that fail their check set their mirror aside: the range goes
      // to another.
      std::lock_guard<std::recursive_mutex> guard(FLock);
      if (!SetAsideMirror(worker, "range data failed its check")) Fail("range data refused");
      return false;
    }
    FProgressTick = GetTickCount32();
  } else if (length > 0) {
    // The block itself goes to the writer; the worker fills a spare one.
    block.resize(length);
    if (!writer->Queue(position, std::move(block))) return false;
    block = writer->Spare();
  }
  // Only an answer that brought a useful amount counts as progress: a server
  // that drips a few bytes on each connection does not keep the download
  // alive.
  const THttpHeader& response = worker.Response();
  const int64_t brought = position + static_cast<int64_t>(length) - response.RangeStart();
  const int64_t whole = rangeEnd > 0 ? rangeEnd + 1 - response.RangeStart() : FTotalSize.load();
  const int64_t wanted = whole > 0 ? std::min(FOptions.UsefulAnswerBytes, whole) : FOptions.UsefulAnswerBytes;
  if (length > 0 && brought >= wanted) {
    FRestarts = 0;
    FUsefulTick = GetTickCount32();
  }
  NoteDelivery(worker, length);
  const int64_t received = FReceived += static_cast<int64_t>(length);
  DebugOutput(Format("%d# %lld/%lld", worker.Index(), static_cast<long long>(length), static_cast<long long>(received)));
  if (OnReceived) OnReceived(*this, Elapsed(), FTotalSize, received);
  return true;
}

void THttpDownload::WorkerDone(THttpWorker& worker) {
  NoteAnswer(worker);
  if (FList) {
    ListDone(worker);
    return;
  }
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    DebugOutput(Format("%d# \xCF\xDF\xB3\xCC--\xCD\xEA\xB3\xC9", worker.Index()));  // "%d# 线程--完成"
    if (FTotalSize == 0) FTotalSize = worker.Response().Delivered();
    if (FReceived < FTotalSize) {
      if (FState == Stopping) return;
      if (!GiveNextRange(worker, "%d# \xCF\xDF\xB3\xCC\xBF\xAA\xCA\xBC:%lld->%lld(%lld)")) {  // "%d# 线程开始:%lld->%lld(%lld)"
        DebugOutput(Format("%d# \xCF\xDF\xB3\xCC\xCD\xA3\xD6\xB9. finish", worker.Index()));  // "%d# 线程停止. finish"
        if (FIdleWorkers >= FWorkerCount) {
          if (ErrorText().empty()) SetError("\xCF\xC2\xD4\xD8\xCA\xFD\xBE\xDD\xB2\xBB\xCD\xEA\xD5\xFB");  // "下载数据不完整"
          RaiseError();
        }
      }
      return;
    }
  }
  // Outside the lock: the finish step reads the whole file and may wait for
  // the target, while the owner's Poll (the no-progress check) and a cancel
  // need the lock.
  Finish(&worker);
}

void THttpDownload::WorkerFailed(THttpWorker& worker) {
  NoteAnswer(worker);
  if (FList) {
    ListFailed(worker);
    return;
  }
  std::lock_guard<std::recursive_mutex> guard(FLock);
  // Every byte has arrived: the finish step decides how the download ends.
  if (FFinished) return;
  if (worker.ConnectFailed() && !worker.Terminated() && (FState == Started || FState == Running) &&
      SetAsideMirror(worker, ConnectFailure(worker)) && FState == Started) {
    // The probe goes to the next mirror.
    const size_t next = PickMirror();
    AimWorker(worker, next);
    worker.GiveRequest(MirrorRequest(worker.Request(), next));
    return;
  }
  FSlotMirror[static_cast<size_t>(worker.Index() - 1)] = NoMirror;
  // Without a range list (the probe, or a whole-file answer) a silent
  // failure is left to Poll; an answer that failed the download (an HTTP
  // error, a wrong length) is reported at once with its own text.
  if (!FRanges) {
    if (FState == Failed) RaiseError();
    return;
  }
  THttpHeader& response = worker.Response();
  if (response.RangeEnd() <= 0) {
    if (FState == Failed) RaiseError();
    return;
  }
  const int64_t rest = response.RangeStart() + response.Delivered();
  if (rest <= response.RangeEnd()) FRanges->Add(rest, response.RangeEnd());
  response.SetRangeEnd(0);
  if (FState == Failed) {
    RaiseError();
    return;
  }
  // A worker that is ending is replaced by Poll once it has gone.
  if (FState == Stopping || worker.Terminated()) return;
  if (!CountRestart()) return;
  if (!GiveNextRange(worker, "%d# \xCF\xDF\xB3\xCC\xD6\xD8\xC6\xF4:%lld->%lld(%lld)")) {  // "%d# 线程重启:%lld->%lld(%lld)"
    DebugOutput(Format("%d# \xCF\xDF\xB3\xCC\xCD\xA3\xD6\xB9.Reclaim.", worker.Index()));  // "%d# 线程停止.Reclaim."
    if (FIdleWorkers >= FWorkerCount) RaiseError();
  }
}

bool THttpDownload::InflateTemporary(int windowBits, const std::string& target) {
  const std::string source = PathOf(".!tmp");
  // The inflated file is the file the run expects, never larger.
  const uint64_t limit = FExpectedSize >= 0 ? static_cast<uint64_t>(FExpectedSize) : FOptions.MaxInflatedSize;
  z_stream zs{};
  if (inflateInit2(&zs, windowBits) != Z_OK) return false;
  bool ok = true;
  try {
    TFileStream in(source, TFileMode::ReadShared);
    TFileStream out(target, TFileMode::CreateTruncate);
    std::vector<unsigned char> input(1 << 16), output(1 << 16);
    uint64_t produced = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
      if (FState == Stopping) {
        ok = false;  // the data stays for the next start
        break;
      }
      const size_t n = in.Read(input.data(), input.size());
      if (n == 0) {
        ok = false;  // the stream ended early
        break;
      }
      zs.next_in = input.data();
      zs.avail_in = static_cast<uInt>(n);
      while (zs.avail_in > 0 && status != Z_STREAM_END) {
        zs.next_out = output.data();
        zs.avail_out = static_cast<uInt>(output.size());
        status = inflate(&zs, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) throw EFileError(zs.msg ? zs.msg : "inflate error");
        const size_t got = output.size() - zs.avail_out;
        produced += got;
        if (produced > limit) throw EFileError("inflated file too large");
        out.WriteBuffer(output.data(), got);
      }
    }
  } catch (const EFileError& e) {
    DebugOutput(std::string("\xBD\xE2\xD1\xB9\xCB\xF5\xCA\xFD\xBE\xDD: ") + e.what());  // "解压缩数据: "
    ok = false;
  }
  inflateEnd(&zs);
  return ok;
}

std::string THttpDownload::VerifiedCandidate(std::string& failure) {
  const std::string name = FileName(), temporary = PathOf(".!tmp");
  const std::shared_ptr<TResumeRecord> record = Record();
  if (record && !record->Complete()) {
    failure = Format("%s: only %lld of %lld bytes were written", name.c_str(),
                     static_cast<long long>(record->WrittenBytes()), static_cast<long long>(FTotalSize.load()));
    return "";
  }
  const int64_t received = GetFileSize(temporary);
  if (received != FTotalSize) {
    failure = Format("%s: %lld bytes on the disk, %lld sent", name.c_str(), static_cast<long long>(received),
                     static_cast<long long>(FTotalSize.load()));
    return "";
  }
  std::string candidate = temporary;
  if (FContentCoding != 0) {
    DebugOutput("\xBD\xE2\xD1\xB9\xCB\xF5\xCA\xFD\xBE\xDD.");  // "解压缩数据."
    candidate = PathOf(".!inf");
    if (!InflateTemporary(FContentCoding, candidate)) {
      failure = name + ": the body does not inflate to the expected file";
      return "";
    }
  }
  // A cancel does not wait for the whole file to be read.
  failure = FetchedFileFault(name, GetFileSize(candidate), FExpectedSize, FExpectedMd5, [this, &candidate] {
    const std::string md5 = MD5OfFile(candidate, [this] { return FState == Stopping; });
    FDigestFailed = !SameText(md5, FExpectedMd5);
    return md5;
  });
  return failure.empty() ? candidate : "";
}

// The data is checked while it lies beside the target; only then is the
// target replaced, by a rename that never deletes it first. A file that
// fails the check is thrown away and the target stays as it was. Runs on the
// worker that brought the last bytes, without the download's lock; a stop
// meanwhile ends it early and keeps the data for the next start.
void THttpDownload::Finish(THttpWorker* by) {
  if (FFinished.exchange(true)) return;
  std::shared_ptr<TBGFileStream> writer;
  {
    std::lock_guard<std::mutex> guard(FWriterLock);
    writer = std::move(FWriter);
  }
  // Every queued block is written and reported before the file is checked.
  // Closing, not just letting go: a worker still inside its data callback
  // holds the writer too, and its last block may not be written yet.
  try {
    if (writer) writer->Close();
  } catch (const std::exception& e) {
    DebugOutput(std::string("download writer: ") + e.what());
  }
  writer.reset();
  // A write error has failed the download already; what is on the disk stays
  // for a later start.
  if (FWriteFailed || FState == Failed || FState == Stopping) return;
  std::string failure;
  FDigestFailed = false;
  const std::string candidate = VerifiedCandidate(failure);
  if (candidate.empty() && FDigestFailed && Refetch(by)) return;
  const std::string target = TargetPath();
  const bool placed = !candidate.empty() && RenameWithRetries(candidate, target, FOptions.RenameRetries,
                                                                FOptions.RenameRetryMs,
                                                                [this] { return FState == Stopping; });
  if (!placed && FState == Stopping) {
    DeleteFileAt(PathOf(".!inf"));
    return;
  }
  if (!candidate.empty() && !placed) failure = target + ": cannot be replaced: " + LastFileErrorText();
  {
    // A checkpoint that began before the finish has written its file by now.
    std::lock_guard<std::mutex> checkpoint(FCheckpointLock);
    if (const std::shared_ptr<TResumeRecord> record = Record()) record->Remove();
    std::lock_guard<std::mutex> guard(FWriterLock);
    FRecord.reset();
  }
  {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FRanges.reset();
  }
  DeleteFileAt(PathOf(".!tmp"));
  DeleteFileAt(PathOf(".!inf"));
  if (!placed) {
    Fail(failure);
    return;
  }
  FPlaced = true;
  if (FMirrors) {
    std::vector<std::pair<size_t, int64_t>> delivered;
    std::lock_guard<std::recursive_mutex> guard(FLock);
    for (size_t m = 0; m < FDelivered.size(); ++m) delivered.emplace_back(m, FDelivered[m]);
    FMirrors->FileDone(FMirrors->PathOf(FUrl), delivered);
    // The file is right from one mirror: those that delivered the wrong one
    // with it are set aside.
    for (const size_t suspect : FSuspects)
      if (suspect != FPinned) FMirrors->SetAside(suspect, "delivered bytes that failed the file's MD5");
  }
  const std::string serverTime = ServerTime();
  if (!serverTime.empty()) SetFileUnixTime(target, HttpDateToUnixTime(serverTime));
  if (OnDone) OnDone(*this);
}

// --- watchdog ------------------------------------------------------------

void THttpDownload::Poll() {
  MeasureMirrors();
  for (size_t i = 0;; ++i) {
    std::unique_ptr<THttpWorker> stale;
    bool stalled = false;
    {
      std::lock_guard<std::recursive_mutex> guard(FLock);
      if (i >= FWorkers.size()) break;
      THttpWorker* worker = FWorkers[i].get();
      if (!worker) continue;
      // The tick is read before the clock, so a worker that has just shown
      // life never seems to lie in the future.
      const uint32_t tick = worker->LastActivity();
      const uint32_t now = GetTickCount32();
      if (tick == 0 || (tick != 1 && now - tick <= FOptions.WatchdogMs)) continue;
      DebugOutput(Format("%d# \xCF\xDF\xB3\xCC\xB3\xAC\xCA\xB1", worker->Index()));  // "%d# 线程超时"
      // A mirror whose connection stalls is left for the rest of the run.
      stalled = SetAsideMirror(*worker, Format("stalled: nothing for %u s", FOptions.WatchdogMs / 1000));
      stale = std::move(FWorkers[i]);
      FRetiredAhead += stale->RequestsSentAhead();
    }
    stale.reset();  // its last failed report returns its range
    std::lock_guard<std::recursive_mutex> guard(FLock);
    const bool silentStart = FState == Started || FReceived == 0 || (!FRanges && !FList);
    if (FState != Stopping) {
      THttpWorker& replacement = CreateWorker(static_cast<int>(i));
      if ((FRanges || FList) && FState != Failed && !FFinished && CountRestart())
        GiveNextRange(replacement, "%d# \xCF\xDF\xB3\xCC\xD6\xD8\xC6\xF4:%lld->%lld(%lld)");  // "%d# 线程重启:%lld->%lld(%lld)"
      if (stalled && FState == Started && i == 0) {
        // The probe stalled on a mirror that is now set aside: the next one.
        auto probe = std::make_unique<THttpHeader>();
        probe->SetRequest("GET", FUrl);
        probe->SetRange(0, 0);
        const size_t next = PickMirror();
        AimWorker(replacement, next);
        replacement.GiveRequest(MirrorRequest(*probe, next));
        continue;
      }
    }
    if (i == 0 && silentStart) {
      SetError("\xB3\xAC\xCA\xB1\xB4\xED\xCE\xF3");  // "超时错误"
      RaiseError();
    }
  }
  const TState state = FState;
  if ((state == Started || state == Running) && !FFinished) {
    // The ticks are read before the clock (see above).
    const uint32_t written = FProgressTick.load(), useful = FUsefulTick.load(), now = GetTickCount32();
    if (now - written > FOptions.NoProgressMs)
      Fail(Format("%s: no data written for %u s", FileName().c_str(), FOptions.NoProgressMs / 1000));
    else if (now - useful > FOptions.NoProgressMs)
      Fail(Format("%s: no answer brought %lld bytes for %u s", FileName().c_str(),
                  static_cast<long long>(FOptions.UsefulAnswerBytes), FOptions.NoProgressMs / 1000));
  }
  Checkpoint();
}

void THttpDownload::Checkpoint() {
  const std::shared_ptr<TResumeRecord> record = Record();
  if (!record || FState != Running) return;
  const uint32_t now = GetTickCount32(), since = now - FCheckpointTick;
  const int64_t written = record->WrittenBytes();
  const bool due = since >= FOptions.CheckpointMs ||
                   (written - FCheckpointWritten >= FOptions.CheckpointBytes && since >= FOptions.CheckpointMinMs);
  // A record with nothing missing is left to Finish: the format has no way
  // to say "complete", and an empty one would start afresh.
  if (!due || !record->Changed() || record->Complete()) return;
  std::lock_guard<std::mutex> checkpoint(FCheckpointLock);
  if (FFinished) return;
  record->Save();
  FCheckpointTick = now;
  FCheckpointWritten = written;
}

TDownloadOutcome RunDownload(THttpDownload& download, const std::string& url, const std::string& folder,
                             int64_t expectedSize, const std::function<bool()>& keepGoing, uint32_t pollMs) {
  // Shared with the callbacks, which may still fire after a stop.
  struct TWait {
    TEvent finished;
    std::atomic<int> outcome{0};  // 1 done, 2 failed
  };
  const auto wait = std::make_shared<TWait>();
  download.OnDone = [wait](THttpDownload&) {
    wait->outcome = 1;
    wait->finished.SetEvent();
  };
  download.OnError = [wait](THttpDownload&) {
    int none = 0;
    wait->outcome.compare_exchange_strong(none, 2);
    wait->finished.SetEvent();
  };
  if (!download.Start(url, folder, expectedSize)) return TDownloadOutcome::NotStarted;
  while (wait->outcome == 0) {
    wait->finished.WaitFor(pollMs);
    download.Poll();
    if (wait->outcome == 0 && !keepGoing()) break;
  }
  switch (wait->outcome.load()) {
    case 1: return TDownloadOutcome::Done;
    case 2: return TDownloadOutcome::Failed;
    default: return TDownloadOutcome::Stopped;
  }
}
