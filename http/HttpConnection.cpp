#include "http/HttpConnection.h"

#include <algorithm>

#include "platform/DebugOutput.h"

THttpConnection::THttpConnection(std::shared_ptr<TRateLimiter> limiter, uint32_t connectTimeoutMs)
    : FConnectTimeoutMs(connectTimeoutMs) {
  FSocket.SetRateLimiter(std::move(limiter));
}

void THttpConnection::Close() {
  FSocket.Close();
  FSentAhead.clear();
  FKeptServer.clear();
}

void THttpConnection::Finish(bool keep) {
  if (keep) {
    FKeptServer = FServer;
  } else {
    Close();
  }
}

TExchange THttpConnection::Exchange(const THttpHeader& request, const std::string& address,
                                    const std::vector<std::string>& ahead, THttpHeader& response,
                                    const THttpLimits& limits) {
  FServer = ConnectionKey(request, address);
  for (;;) {
    response.PrepareResponse(request);
    // A request sent ahead with an earlier one is not sent again; a request
    // that was not needs a connection without answers on their way.
    const std::string text = !FSentAhead.empty() ? request.BuildRequest() : std::string();
    bool kept = FKeptServer == FServer && FSocket.Connected();
    const bool sentBefore = kept && !text.empty() && FSentAhead.front() == text;
    if (!FSentAhead.empty() && !sentBefore) kept = false;
    FKeptServer.clear();
    if (!kept) {
      Close();
      if (FStopped && FStopped()) return TExchange::ConnectFailed;
      ++FConnects;
      if (FWatch) FWatch(true, false);
      const bool connected = ConnectForRequest(FSocket, request, address, static_cast<int>(FConnectTimeoutMs.load()));
      if (FWatch) FWatch(false, connected);
      if (!connected || (FStopped && FStopped())) {
        Close();
        return TExchange::ConnectFailed;
      }
    }
    if (sentBefore) FSentAhead.pop_front();
    // The request and those that follow it leave in one send.
    const bool withAhead = kept && !ahead.empty() && !FAheadLost && request.Body().empty();
    const bool sent = withAhead ? SendAhead(sentBefore ? std::string() : request.BuildRequest(), ahead)
                                : sentBefore || SendHttpRequest(FSocket, request);
    const bool hadAhead = sentBefore || !FSentAhead.empty();
    const THeaderRead read = sent ? ReadHttpResponseHeader(FSocket, response, limits) : THeaderRead::ReadFailed;
    if (kept && read == THeaderRead::ReadFailed) {
      // The server dropped the idle connection, or lost what was sent
      // ahead: a fresh one.
      if (hadAhead) FAheadLost = true;
      Close();
      continue;
    }
    if (!sent) return TExchange::SendFailed;
    if (read == THeaderRead::ReadFailed) {
      DebugOutput("DoRequest ReadLine Error.");
      return TExchange::ReadFailed;
    }
    return read == THeaderRead::Ok ? TExchange::Answered : TExchange::Invalid;
  }
}

bool THttpConnection::SendAhead(std::string texts, const std::vector<std::string>& ahead) {
  // What went out already must be where the owner's list starts.
  if (ahead.size() > FSentAhead.size() && std::equal(FSentAhead.begin(), FSentAhead.end(), ahead.begin())) {
    for (size_t i = FSentAhead.size(); i < ahead.size(); ++i) {
      texts += ahead[i];
      FSentAhead.push_back(ahead[i]);
      ++FAheadCount;
    }
  }
  return texts.empty() || SendAll(FSocket, texts);
}
