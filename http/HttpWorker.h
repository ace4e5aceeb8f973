// THttpWorker: one connection of a download. It waits for a request, runs
// it (up to five rounds: redirects and retries), reads the body into a
// 1 MiB block and hands the block on at its file position. What to do with
// each answer is its owner's decision, through THttpWorkerEvents.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/HttpConnection.h"
#include "http/MirrorSet.h"
#include "http/cBlockSocket.h"
#include "http/cHttpSend.h"
#include "platform/Thread.h"

class THttpWorker;

// The owner's side of a worker; every call runs on the worker's thread.
class THttpWorkerEvents {
public:
  virtual ~THttpWorkerEvents() = default;
  // After the response header: 1 read the body, 2 run another round with
  // the (possibly replaced) request, anything else fails the request.
  virtual int WorkerHeader(THttpWorker& worker) = 0;
  // A block of body data at its file position; false stops the read as
  // failed. The owner may take the block's storage (and leave an empty or
  // spare vector in its place) instead of copying the bytes.
  virtual bool WorkerData(THttpWorker& worker, std::vector<char>& block, int64_t position) = 0;
  virtual void WorkerDone(THttpWorker& worker) = 0;
  virtual void WorkerFailed(THttpWorker& worker) = 0;
};

struct THttpWorkerOptions {
  uint32_t ConnectTimeoutMs = 10000;
  THttpLimits Limits;
  // A 200 answer without length that is not chunked is read until the peer
  // closes, up to this many bytes.
  uint64_t MaxUnsizedBody = 1ull << 40;
  // The run's rate cap; null: none.
  std::shared_ptr<TRateLimiter> Limiter;
  // The run's mirrors; null or one: the URL as given.
  std::shared_ptr<TMirrorSet> Mirrors;
};

class THttpWorker : public TThread {
public:
  static constexpr size_t BufferSize = 0x100000;
  static constexpr int MaxRounds = 5;

  THttpWorker(int index, std::string address, THttpWorkerEvents& events, const THttpWorkerOptions& options);
  // Closes the connection, ends the thread and waits for it; the worker's
  // last failed report runs before this returns.
  ~THttpWorker() override;

  // The round of the request running now: 0 for the first answer, one more
  // for each redirect followed.
  int Round() const { return FRound; }

  // Takes the request, prepares the response for it and wakes the worker.
  // `ahead` are the requests (as BuildRequest makes them) the owner will
  // give next, in order: on a connection that has kept alive they go out
  // right after this one, before its answer comes back (HTTP/1.1
  // pipelining), and a later GiveRequest of one of them sends nothing.
  void GiveRequest(std::unique_ptr<THttpHeader> request, std::vector<std::string> ahead = {});

  // Replaces the request without waking the worker (a redirect answered
  // from the header callback; the next round uses it).
  void ReplaceRequest(std::unique_ptr<THttpHeader> request) { FRequest = std::move(request); }

  int Index() const { return FIndex; }
  std::string Address() const;
  // Used after a redirect: the worker then resolves the new host itself.
  void ClearAddress();
  THttpHeader& Request() { return *FRequest; }
  bool HasRequest() const { return FRequest != nullptr; }
  THttpHeader& Response() { return FResponse; }
  TBlockSocket& Socket() { return FConnection.Socket(); }
  // The tail split: while the worker reads a ranged body, another worker may
  // take the second half of what is still to come. Bytes still to read of
  // the range (0 when none is being read).
  int64_t RemainingBytes() const;
  // Cuts the range being read at the middle of what is still to come when
  // both halves keep at least `minimum` bytes; the worker stops there and
  // [start, end] (inclusive) is left for another worker.
  bool CutRemainder(int64_t minimum, int64_t& start, int64_t& end);
  // Takes all of the range that is not handed on yet (a faster mirror takes
  // over a slow one's): the worker stops where it is, and the bytes it holds
  // but has not handed on are dropped, since it may hold them until its slow
  // server sends again.
  bool TakeRemainder(int64_t& start, int64_t& end);
  // The request in hand: body bytes so far and milliseconds since given;
  // false when there is none, or (`take`) its figures were taken already.
  bool Figures(int64_t& bytes, uint32_t& ms, bool take = false);
  // Body bytes this worker has read, all requests together.
  int64_t BytesRead() const { return FAllBytes.load(); }

  // The last request could not connect (a mirror that does not accept).
  bool ConnectFailed() const { return FConnectFailed.load(); }
  void SetConnectTimeout(uint32_t ms) { FConnection.SetConnectTimeout(ms); }

  // Requests this worker sent before the answer ahead of them came.
  int RequestsSentAhead() const { return FConnection.RequestsSentAhead(); }

  // Tick of the last sign of life; 0 while idle, 1 after a broken header
  // read (the watchdog then reclaims the worker at once).
  uint32_t LastActivity() const { return FLastActivity.load(); }

protected:
  void Execute() override;
  void TerminatedSet() override;
  std::string ThreadName() const override { return "THttpWorker"; }

private:
  bool RunRequest();
  bool ReadBody();
  bool Deliver();
  void SettleCut();
  void Touch();

  const int FIndex;
  mutable std::mutex FAddressLock;
  std::string FAddress;
  THttpWorkerEvents& FEvents;
  int FRound = 0;
  const THttpWorkerOptions FOptions;
  THttpConnection FConnection;
  std::unique_ptr<THttpHeader> FRequest;
  THttpHeader FResponse;
  std::vector<char> FBlock;  // body bytes not yet handed on, up to BufferSize
  // Guards the two positions below between this worker's body reader and a
  // worker that cuts its range.
  mutable std::mutex FCutLock;
  int64_t FNext = -1;    // file position of the next byte to take; -1 when no range is read
  int64_t FStopAt = -1;  // end (exclusive) of what is taken: the range's end, or a cut
  int64_t FHandedOn = -1;  // end (exclusive) of what is handed on to the owner
  // The requests the owner gives next, sent ahead on a kept connection.
  std::vector<std::string> FAheadWanted;
  // The answer being read may leave the connection for the next request.
  bool FKeep = false;
  std::atomic<uint32_t> FLastActivity{0};
  std::atomic<bool> FConnectFailed{false};
  std::atomic<int64_t> FBodyBytes{0};
  std::atomic<int64_t> FAllBytes{0};
  std::atomic<uint32_t> FGivenTick{0};
  TEvent FWake;
};
