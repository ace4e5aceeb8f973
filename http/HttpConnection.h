// THttpConnection: one connection to a server (scheme, host or address and
// port) and the rules for keeping it. It stays open from request to request
// where the server allows; once it has kept alive, the requests that follow
// go out before the answers come back (HTTP/1.1 pipelining), and a server
// that loses them gets one request at a time from then on; a kept connection
// that the server dropped while idle is replaced once, transparently. Every
// receive goes through the run's rate limiter. One thread uses it; another
// may Abort a blocked call.
#pragma once
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/RateLimiter.h"
#include "http/cBlockSocket.h"
#include "http/cHttpSend.h"

enum class TExchange { Answered, ConnectFailed, SendFailed, ReadFailed, Invalid };

class THttpConnection {
public:
  THttpConnection(std::shared_ptr<TRateLimiter> limiter, uint32_t connectTimeoutMs);

  // Sends `request` and reads its answer's header into `response`. The open
  // connection serves it when it goes to the same server and nothing sent
  // ahead on it comes first (a request sent ahead earlier is not sent
  // again); else a new one does. On a kept connection `ahead` (requests as
  // BuildRequest makes them, in the order they will be asked) go out after
  // it in the same send, those not sent yet.
  TExchange Exchange(const THttpHeader& request, const std::string& address, const std::vector<std::string>& ahead,
                     THttpHeader& response, const THttpLimits& limits);
  // After the answer's body: the connection stays for the next request only
  // when `keep`.
  void Finish(bool keep);
  void Close();
  // Any thread: ends a blocked call at once.
  void Abort() { FSocket.Close(); }
  // Asked before and after each connect: an Abort while a connect runs
  // closes the socket before it is the new one.
  void SetStopFlag(std::function<bool()> stopped) { FStopped = std::move(stopped); }
  // Called with true as a connect starts and false when it has ended, with
  // whether it succeeded (an owner's connect watchdog).
  void SetConnectWatch(std::function<void(bool connecting, bool connected)> watch) { FWatch = std::move(watch); }

  // The bound of the next connects (a mirror's shorter one, or back to the
  // caller's own once it is the last).
  void SetConnectTimeout(uint32_t ms) { FConnectTimeoutMs = ms; }
  TBlockSocket& Socket() { return FSocket; }
  // Requests sent before the answer ahead of them came.
  int RequestsSentAhead() const { return FAheadCount.load(); }
  // Connections opened so far.
  int Connects() const { return FConnects.load(); }
  // The server lost requests sent ahead on this connection once: from then
  // on it gets one request at a time.
  bool AheadLost() const { return FAheadLost; }

private:
  bool SendAhead(std::string texts, const std::vector<std::string>& ahead);

  TBlockSocket FSocket;
  std::atomic<uint32_t> FConnectTimeoutMs;
  // The server of the open connection while it may serve the next request.
  std::string FKeptServer;
  // The server of the request whose answer is being read.
  std::string FServer;
  // Requests sent on the open connection after the current one, oldest first.
  std::deque<std::string> FSentAhead;
  bool FAheadLost = false;
  std::atomic<int> FAheadCount{0};
  std::atomic<int> FConnects{0};
  std::function<bool()> FStopped;
  std::function<void(bool, bool)> FWatch;
};
