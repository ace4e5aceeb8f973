// The chunk fetch: given byte ranges of one file, fetched by the download
// engine (THttpDownload) as a list of ranges, with its workers, watchdog,
// redirects and no-progress bound. Many hosts answer multi-range requests
// wrongly, so each request names one range; once a connection has kept
// alive, the requests for its next few ranges go out before the answers
// come back, so that many small ranges cost a few round trips, not one
// each. Every answer must be a 206 whose Content-Range is exactly the range
// asked for, of a file of the expected size; anything else ends the fetch,
// so that the caller can fall back to the whole file.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/HttpDownload.h"

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
  // All its bytes came; false ends the fetch (or, with several mirrors,
  // sets aside the mirror that delivered it and asks another).
  virtual bool RangeEnd(size_t range) = 0;
  // With several mirrors: the mirror (index in the run's set) the range's
  // bytes come from, before its RangeBegin.
  virtual void RangeFrom(size_t /*range*/, size_t /*mirror*/) {}
};

struct TRangeFetchOptions {
  int Connections = 5;
  // A range whose connection failed is asked again this many times.
  int Retries = 3;
  // A connection without any byte for this long is replaced; when nothing
  // has come yet, the fetch ends.
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

struct TFileRange {
  int64_t Offset;
  int64_t Length;
};

// The ranges still to fetch and which connection (worker slot) has which:
// the download engine's source of requests in a chunk fetch. Thread-safe.
class TRangeList {
public:
  TRangeList(std::string url, int64_t fileSize, std::vector<TFileRange> ranges, const std::vector<uint8_t>& wanted,
             TRangeSink& sink, const TRangeFetchOptions& options, size_t slots);

  int64_t FileSize() const { return FFileSize; }
  size_t Wanted() const { return FWanted; }
  // The slot's next range as a request, and the requests of those that
  // follow it on the connection (sent ahead of its answer); false when none
  // is left.
  bool Take(size_t slot, std::unique_ptr<THttpHeader>& request, std::vector<std::string>& ahead);
  // The answer's header names exactly the slot's range of the file ("" when
  // it does; else why not).
  std::string Mismatch(size_t slot, const THttpHeader& response) const;
  bool Data(size_t slot, int64_t position, const char* data, size_t length);
  // The slot's range is in; false (and `error`) when the sink refuses it.
  bool End(size_t slot, std::string& error);
  // The slot's connection failed or ended: its ranges go back, the one it
  // read counting an attempt; false (and `error`) once that range failed
  // more often than allowed.
  bool Failed(size_t slot, bool countAttempt, const std::string& reason, std::string& error);
  // A redirect was followed: later ranges go straight where it led, with its
  // cookie and referer.
  void Moved(const THttpHeader& request);
  // The mirror the slot's next requests go to (NoMirror: the URL as given).
  void SetSlotMirror(size_t slot, size_t mirror);
  // Ranges not yet in.
  size_t Left() const;
  int Requests() const { return FRequests.load(); }

private:
  std::unique_ptr<THttpHeader> RangeRequest(size_t range, size_t slot) const;
  // The slot's range being read, or SIZE_MAX.
  size_t Current(size_t slot) const;

  const int64_t FFileSize;
  const std::vector<TFileRange> FRanges;
  TRangeSink& FSink;
  const TRangeFetchOptions FOptions;
  mutable std::mutex FLock;
  std::string FUrl;
  std::string FCookie;
  std::string FReferer;
  std::vector<size_t> FQueue;  // ranges still to give, last one next
  // By worker slot: its ranges, the one it reads now first.
  std::vector<std::deque<size_t>> FAssigned;
  std::vector<int> FAttempts;  // by range
  std::vector<size_t> FSlotMirror;
  size_t FWanted = 0;
  size_t FLeft = 0;
  std::atomic<int> FRequests{0};
};

enum class TRangeFetchState { Running, Done, Failed };

class TRangeFetch {
public:
  using TRange = TFileRange;
  // `address` (may be empty) is the server to connect to instead of the
  // URL's host; `fileSize` the size every Content-Range must name.
  TRangeFetch(std::string url, std::string address, int64_t fileSize, std::vector<TRange> ranges, TRangeSink& sink,
              const TRangeFetchOptions& options = TRangeFetchOptions());
  // Ends the workers and waits for them.
  ~TRangeFetch();
  TRangeFetch(const TRangeFetch&) = delete;
  TRangeFetch& operator=(const TRangeFetch&) = delete;

  // Fetches only the ranges whose flag in `wanted` is set (all when empty).
  void Start(const std::vector<uint8_t>& wanted = {});
  // The engine's watchdog, called now and then.
  TRangeFetchState Poll();
  void Stop();
  // Why the fetch failed.
  std::string ErrorText() const;
  // Body bytes received so far, and requests given.
  int64_t Received() const;
  int Requests() const { return FList ? FList->Requests() : 0; }
  // Requests sent before the answer ahead of them on their connection came.
  int RequestsSentAhead() const;

private:
  // The engine's outcome, set from its callbacks.
  struct TOutcome {
    std::atomic<int> value{0};  // 1 done, 2 failed
  };

  const std::string FUrl;
  const std::string FAddress;
  const int64_t FFileSize;
  std::vector<TRange> FRanges;
  TRangeSink& FSink;
  const TRangeFetchOptions FOptions;
  std::shared_ptr<TOutcome> FOutcome = std::make_shared<TOutcome>();
  std::unique_ptr<TRangeList> FList;
  std::unique_ptr<THttpDownload> FDownload;
  std::string FError;
  int64_t FReceived = 0;
  int FSentAhead = 0;
};
