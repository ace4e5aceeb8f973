// TRangeFetch: given byte ranges of one file, fetched with single-range GETs
// over kept-alive connections, a few in flight, by the download engine's
// workers (THttpWorker). Many hosts answer multi-range requests wrongly, so
// each request names one range; once a connection has kept alive, the
// requests for its next few ranges go out before the answers come back, so
// that many small ranges cost a few round trips, not one each. Every answer
// must be a 206 whose Content-Range is exactly the range asked for, of a
// file of the expected size; anything else ends the fetch, so that the
// caller can fall back to the whole file.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/HttpWorker.h"
#include "http/ProgressBound.h"

// The receiving side; every call runs on a worker's thread. One range is
// fed by one worker at a time, from its start on.
class TRangeSink {
public:
  virtual ~TRangeSink() = default;
  // A range starts (again, after a failed attempt).
  virtual void RangeBegin(size_t range) = 0;
  // Its data at its file position; false ends the fetch (a chunk did not
  // match, the disk failed).
  virtual bool RangeData(size_t range, int64_t position, const char* data, size_t length) = 0;
  // All its bytes came; false ends the fetch.
  virtual bool RangeEnd(size_t range) = 0;
};

struct TRangeFetchOptions {
  int Connections = 5;
  // A range whose connection failed is asked again this many times.
  int Retries = 3;
  // No byte on any connection for this long ends the fetch.
  uint32_t SilenceMs = 10000;
  // Nor may this long pass without UsefulBytes of range data or a whole
  // range: a server that drips bytes is never silent (the download
  // engine's no-progress bound).
  uint32_t NoProgressMs = 60000;
  int64_t UsefulBytes = 64 << 10;
  // Ranges given to one connection at once (the first and those sent
  // ahead of its answer), while together they stay within AheadBytes.
  int PipelineDepth = ::PipelineDepth;
  int64_t AheadBytes = 1 << 20;
  THttpWorkerOptions Worker;
};

enum class TRangeFetchState { Running, Done, Failed };

class TRangeFetch : private THttpWorkerEvents {
public:
  struct TRange {
    int64_t Offset;
    int64_t Length;
  };
  // `address` (may be empty) is the server to connect to instead of the
  // URL's host; `fileSize` the size every Content-Range must name.
  TRangeFetch(std::string url, std::string address, int64_t fileSize, std::vector<TRange> ranges, TRangeSink& sink,
              const TRangeFetchOptions& options = TRangeFetchOptions());
  // Ends the workers and waits for them.
  ~TRangeFetch() override;
  TRangeFetch(const TRangeFetch&) = delete;
  TRangeFetch& operator=(const TRangeFetch&) = delete;

  // Fetches only the ranges whose flag in `wanted` is set (all when empty).
  void Start(const std::vector<uint8_t>& wanted = {});
  // The owner's watchdog, called now and then.
  TRangeFetchState Poll();
  void Stop();
  // Why the fetch failed.
  std::string ErrorText() const;
  // Body bytes received so far, and connections opened.
  int64_t Received() const { return FReceived.load(); }
  int Requests() const { return FRequests.load(); }
  // Requests sent before the answer ahead of them on their connection came.
  int RequestsSentAhead() const;

private:
  int WorkerHeader(THttpWorker& worker) override;
  bool WorkerData(THttpWorker& worker, std::vector<char>& block, int64_t position) override;
  void WorkerDone(THttpWorker& worker) override;
  void WorkerFailed(THttpWorker& worker) override;
  // Gives the worker its next range (and more to send ahead); false when
  // none is left.
  bool GiveNext(THttpWorker& worker);
  // Gives the worker the first of its ranges, the others as sent ahead.
  void Give(THttpWorker& worker);
  std::unique_ptr<THttpHeader> RangeRequest(size_t range) const;
  // The range the worker is reading now, or SIZE_MAX.
  size_t Current(THttpWorker& worker) const;
  void Fail(const std::string& text);

  const std::string FUrl;
  const std::string FAddress;
  const int64_t FFileSize;
  const std::vector<TRange> FRanges;
  TRangeSink& FSink;
  const TRangeFetchOptions FOptions;
  mutable std::mutex FLock;
  std::vector<size_t> FQueue;         // ranges still to give, last one next
  // By worker slot: its ranges, the one it reads now first.
  std::vector<std::deque<size_t>> FAssigned;
  std::vector<int> FAttempts;         // by range
  size_t FLeft = 0;                   // ranges not yet ended
  std::string FError;
  std::atomic<bool> FFailed{false};
  std::atomic<bool> FStopping{false};
  std::atomic<int64_t> FReceived{0};
  std::atomic<int> FRequests{0};
  TProgressBound FProgress;
  std::vector<std::unique_ptr<THttpWorker>> FWorkers;
};
