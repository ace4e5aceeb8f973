#include "http/cHttpSend.h"

#include <algorithm>

#include "common/Format.h"
#include "common/Log.h"
#include "common/PathUtils.h"
#include "http/HttpConnection.h"
#include "platform/DebugOutput.h"
#include "platform/Tick.h"

namespace {

const char* const UserAgent = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.0; Trident/4.0)";

// The largest piece read from the socket at once: its whole buffer.
constexpr int PieceSize = TBlockSocket::BufferSize;

}  // namespace

// ---------------------------------------------------------------------------
// THttpHeader

void THttpHeader::Clear() {
  FMethod.clear();
  FVersion = "HTTP/1.1";
  FHost.clear();
  FPort = 0;
  FSecure = false;
  FPath.clear();
  FUrl.clear();
  FFields.clear();
  FBody.clear();
  FStatus = 0;
  FReason.clear();
  FErrorText.clear();
  FLineCount = 0;
  FLastField = SIZE_MAX;
  FContentLength = 0;
  FRangeTotal = 0;
  FContentRangeEnd = -1;
  FRangeStart = 0;
  FRangeEnd = 0;
  FDelivered = 0;
}

bool THttpHeader::SetRequest(const std::string& method, const std::string& url) {
  if (method != "GET" && method != "POST" && method != "HEAD") return false;
  Clear();
  FMethod = method;
  FUrl = url;
  ParseUrl(url);
  return FPort != 0;
}

void THttpHeader::ParseUrl(const std::string& url) {
  const std::string scheme = UpperCase(url.substr(0, 8));
  size_t schemeLength = 0;
  if (scheme.compare(0, 7, "HTTP://") == 0) schemeLength = 7;
  else if (scheme == "HTTPS://") schemeLength = 8;
  else return;
  FSecure = schemeLength == 8;
  const int defaultPort = FSecure ? 443 : 80;
  const std::string rest = TrimText(url.substr(schemeLength));
  std::string hostPart = rest;
  std::string pathPart;
  const size_t separator = rest.find_first_of("/\\");
  if (separator != std::string::npos) {
    hostPart = rest.substr(0, separator);
    const size_t pathStart = rest.find_first_not_of("/\\", separator);
    if (pathStart != std::string::npos) pathPart = rest.substr(pathStart);
  }
  FPath = "/" + pathPart;

  const size_t at = hostPart.find('@');
  if (at != std::string::npos) {
    const std::string userInfo = hostPart.substr(0, at);
    hostPart = hostPart.substr(at + 1);
    if (!userInfo.empty()) SetField("Authorization", "Basic " + Base64Encode(userInfo));
  }

  FPort = defaultPort;
  FHost = hostPart;
  const size_t colon = hostPart.rfind(':');
  if (colon != std::string::npos) {
    FHost = hostPart.substr(0, colon);
    int64_t port = 0;
    if (ParseDecimal(hostPart.substr(colon + 1), port) && port > 0 && port <= 65535) {
      FPort = static_cast<int>(port);
    }
  }
  if (FSecure && FHost.empty()) {
    // TLS checks the certificate against the host: without one the request
    // would go out in the clear to whatever address the caller gives.
    FErrorText = "an https:// URL without a host: " + url;
    FPort = 0;
    FFields.clear();
    return;
  }
  SetField("Host", FPort == defaultPort ? FHost : FHost + ":" + std::to_string(FPort));
  SetField("User-Agent", UserAgent);
  SetField("Accept-Language", "zh-cn");
  SetField("Accept-Encoding", "gzip, deflate");
  SetField("Accept", "*/*");
  SetField("Connection", "close");
}

bool THttpHeader::SetField(const std::string& name, const std::string& value) {
  auto field = std::find_if(FFields.begin(), FFields.end(),
                            [&](const TField& f) { return SameText(f.first, name); });
  if (field != FFields.end()) {
    field->second = value;
  } else {
    field = FFields.emplace(FFields.end(), name, value);
  }
  FLastField = static_cast<size_t>(field - FFields.begin());

  if (SameText(name, "Content-Location")) {
    FUrl = value;
  } else if (SameText(name, "Content-Length")) {
    if (!ParseDecimal(TrimText(value), FContentLength)) FContentLength = 0;
  } else if (SameText(name, "Range")) {
    const std::string rangeText = value.size() > 6 ? value.substr(6) : std::string();
    const size_t dash = rangeText.find('-');
    if (!ParseDecimal(TrimText(rangeText.substr(0, dash)), FRangeStart)) FRangeStart = 0;
    const std::string end = dash == std::string::npos ? std::string() : TrimText(rangeText.substr(dash + 1));
    if (!ParseDecimal(end, FRangeEnd)) FRangeEnd = -1;
  } else if (SameText(name, "Content-Range")) {
    return SetContentRange(value);
  }
  return true;
}

bool THttpHeader::SetContentRange(const std::string& value) {
  const std::string rangeText = value.size() > 6 ? value.substr(6) : std::string();
  const size_t slash = rangeText.rfind('/');
  if (slash == std::string::npos || !ParseDecimal(TrimText(rangeText.substr(slash + 1)), FRangeTotal)) {
    FRangeTotal = 0;
  }
  const std::string range = TrimText(rangeText.substr(0, slash));
  FContentRangeEnd = -1;
  if (range == "*") return true;
  const size_t dash = range.find('-');
  int64_t start = -1;
  if (!ParseDecimal(TrimText(range.substr(0, dash)), start)) start = -1;
  int64_t end = -1;
  if (SameText(TrimText(value.substr(0, 6)), "bytes") && start >= 0 && FRangeTotal > 0 && dash != std::string::npos &&
      ParseDecimal(TrimText(range.substr(dash + 1)), end))
    FContentRangeEnd = end;
  if (start != FRangeStart) {
    FErrorText = "Content-Range Assert " + std::to_string(start) + "<>" + std::to_string(FRangeStart);
    return false;
  }
  return true;
}

std::string THttpHeader::GetField(const std::string& name) const {
  for (const TField& field : FFields) {
    if (SameText(field.first, name)) return field.second;
  }
  return std::string();
}

bool THttpHeader::HasField(const std::string& name) const {
  return std::any_of(FFields.begin(), FFields.end(), [&](const TField& f) { return SameText(f.first, name); });
}

void THttpHeader::SetRange(int64_t start, int64_t end) {
  // Several servers read the unit in lower case only; a server that
  // compresses what it sends would answer a range with the whole file.
  std::string value = "bytes=" + std::to_string(start) + "-";
  if (end >= 0) value += std::to_string(end);
  SetField("Range", value);
  SetField("Accept-Encoding", "identity");
}

void THttpHeader::ClearRange() {
  // No empty "Range:" line: some servers refuse it with 416 as well.
  FFields.erase(std::remove_if(FFields.begin(), FFields.end(),
                               [](const TField& f) { return SameText(f.first, "Range"); }),
                FFields.end());
  FLastField = SIZE_MAX;
  FRangeStart = 0;
  FRangeEnd = 0;
}

std::string THttpHeader::BuildRequest() const {
  // HEAD is accepted by SetRequest, so it gets its request line as well.
  std::string text = FMethod + " " + EncodeUrlPath(FPath) + " " + FVersion + "\r\n";
  for (const TField& field : FFields) text += field.first + ": " + field.second + "\r\n";
  text += "\r\n";
  return text;
}

bool THttpHeader::ParseLine(const std::string& line, const THttpLimits& limits) {
  if (line.size() > limits.MaxLineLength) {
    FErrorText = "Header line longer than " + std::to_string(limits.MaxLineLength) + " bytes";
    return false;
  }
  if (++FLineCount > limits.MaxHeaderLines) {
    FErrorText = "More than " + std::to_string(limits.MaxHeaderLines) + " header lines";
    return false;
  }
  if (line.empty()) return true;
  if (FStatus == 0) return ParseStatusLine(line);

  size_t nameEnd = std::string::npos;
  if (line[0] != '\t') nameEnd = line.find_first_of(": ");
  if (nameEnd == std::string::npos || nameEnd == 0) {
    // A continuation line: joined to the last field's value with one blank.
    if (FLastField >= FFields.size()) return true;
    const TField last = FFields[FLastField];
    return SetResponseField(last.first,
                            last.second + " " + line.substr(std::min(line.find_first_not_of(" \t"), line.size())));
  }
  const size_t valueStart = line.find_first_not_of(": ", nameEnd);
  return SetResponseField(line.substr(0, nameEnd),
                          valueStart == std::string::npos ? std::string() : line.substr(valueStart));
}

bool THttpHeader::SetResponseField(const std::string& name, const std::string& value) {
  // A response's range is the one its request asked for: a "Range" field
  // sent back by the server is kept as text only, or it would move where
  // the body is written and let "Content-Range" pass for another range.
  const int64_t rangeStart = FRangeStart;
  const int64_t rangeEnd = FRangeEnd;
  const bool accepted = SetField(name, value);
  FRangeStart = rangeStart;
  FRangeEnd = rangeEnd;
  return accepted;
}

bool THttpHeader::ParseStatusLine(const std::string& line) {
  const size_t versionEnd = std::min(line.find(' '), line.size());
  FVersion = line.substr(0, versionEnd);
  const size_t statusStart = std::min(line.find_first_not_of(' ', versionEnd), line.size());
  const size_t statusEnd = std::min(line.find(' ', statusStart), line.size());
  int64_t status = 0;
  if (!ParseDecimal(line.substr(statusStart, statusEnd - statusStart), status) || status > 999) status = 0;
  FStatus = static_cast<int>(status);
  const size_t reasonStart = std::min(line.find_first_not_of(' ', statusEnd), line.size());
  FReason = line.substr(reasonStart);
  return true;
}

void THttpHeader::ClearStatus() {
  FStatus = 0;
  FReason.clear();
  FErrorText.clear();
  FLineCount = 0;
}

void THttpHeader::PrepareResponse(const THttpHeader& request) {
  Clear();
  FRangeStart = request.FRangeStart;
  FRangeEnd = request.FRangeEnd;
  FUrl = request.FUrl;
}

int THttpHeader::ContentCoding() const {
  const std::string coding = TrimText(GetField("Content-Encoding"));
  if (SameText(coding, "gzip")) return GzipWindowBits;
  if (SameText(coding, "deflate")) return RawDeflateWindowBits;
  return 0;
}

bool THttpHeader::IsChunked() const { return SameText(TrimText(GetField("Transfer-EnCoding")), "Chunked"); }

std::string THttpHeader::HeaderLines() const {
  std::string text;
  for (const TField& field : FFields) text += field.first + ": " + field.second + "\r\n";
  text += "\r\n";
  return text;
}

// ---------------------------------------------------------------------------
// One request over a socket

bool SendAll(TBlockSocket& socket, const std::string& data) {
  // SendBuffer takes at most 65535 bytes per call and may send less; a
  // short send fails the request.
  size_t offset = 0;
  while (offset < data.size()) {
    const int piece = static_cast<int>(std::min<size_t>(data.size() - offset, 65535));
    if (socket.SendBuffer(data.data() + offset, piece) != piece) return false;
    offset += static_cast<size_t>(piece);
  }
  return true;
}

bool ConnectForRequest(TBlockSocket& socket, const THttpHeader& request, const std::string& address, int timeoutMs) {
  if (request.Secure() && request.Host().empty()) return false;  // never TLS without a name to check
  return socket.Connect(address.empty() ? request.Host() : address, request.Port(), timeoutMs,
                        request.Secure() ? request.Host() : std::string());
}

std::string ConnectionKey(const THttpHeader& request, const std::string& address) {
  return std::string(request.Secure() ? "https://" : "http://") + (address.empty() ? request.Host() : address) +
         ":" + std::to_string(request.Port());
}

bool IsDowngrade(const THttpHeader& from, const THttpHeader& to) { return from.Secure() && !to.Secure(); }

bool RedirectRequest(const THttpHeader& from, const THttpHeader& response, THttpHeader& next, std::string& refusal) {
  const std::string location = response.GetField("Location");
  if (!next.SetRequest("GET", location)) {
    refusal = "Redirect to a URL that is not http: \"" + location + "\"";
    return false;
  }
  if (IsDowngrade(from, next)) {
    refusal = "redirect from " + from.Url() + " to " + next.Url() + " refused: a downgrade from https to http";
    return false;
  }
  if (from.HasField("Range")) next.SetRange(from.RangeStart(), from.RangeEnd());
  if (response.HasField("Set-Cookie")) next.SetField("Cookie", response.GetField("Set-Cookie"));
  next.SetField("Referer", response.Url());
  return true;
}

bool SendHttpRequest(TBlockSocket& socket, const THttpHeader& request) {
  return SendAll(socket, request.BuildRequest()) && SendAll(socket, request.Body());
}

THeaderRead ReadHttpResponseHeader(TBlockSocket& socket, THttpHeader& response, const THttpLimits& limits) {
  response.ClearStatus();
  std::string line;
  for (;;) {
    if (!socket.ReadLine(line)) return THeaderRead::ReadFailed;
    if (line.empty()) {
      // Blank lines before the status line are skipped; the line count
      // still bounds how many.
      if (response.Status() != 0) return THeaderRead::Ok;
    }
    if (!response.ParseLine(line, limits)) return THeaderRead::Invalid;
  }
}

TBodyRead ReadIdentityBody(TBlockSocket& socket, uint64_t length, const THttpBodySink& sink,
                           const THttpStopFlag& stop) {
  uint64_t remaining = length;
  while (remaining > 0) {
    if (stop && stop()) return TBodyRead::Stopped;
    const char* data = nullptr;
    const int count = socket.ReadBlock(static_cast<int>(std::min<uint64_t>(remaining, PieceSize)), data);
    if (count < 1) return TBodyRead::ReadFailed;
    if (!sink(data, static_cast<size_t>(count))) return TBodyRead::Stopped;
    remaining -= static_cast<uint64_t>(count);
  }
  return TBodyRead::Ok;
}

TBodyRead ReadBodyUntilClose(TBlockSocket& socket, uint64_t maxLength, const THttpBodySink& sink,
                             const THttpStopFlag& stop) {
  uint64_t total = 0;
  for (;;) {
    if (stop && stop()) return TBodyRead::Stopped;
    const char* data = nullptr;
    const int count = socket.ReadBlock(PieceSize, data);
    if (count < 1) {
      // The peer's close ends the body; a failing socket (reset, timeout)
      // or an abort is an error.
      if (stop && stop()) return TBodyRead::Stopped;
      return socket.LastError() == 0 ? TBodyRead::Ok : TBodyRead::ReadFailed;
    }
    total += static_cast<uint64_t>(count);
    if (total > maxLength) return TBodyRead::TooLarge;
    if (!sink(data, static_cast<size_t>(count))) return TBodyRead::Stopped;
  }
}

TBodyRead ReadChunkedBody(TBlockSocket& socket, const THttpLimits& limits, const THttpBodySink& sink,
                          const THttpStopFlag& stop, uint64_t& total) {
  total = 0;
  std::string line;
  for (;;) {
    if (stop && stop()) return TBodyRead::Stopped;
    if (!socket.ReadLine(line)) return TBodyRead::ReadFailed;
    uint64_t size = 0;
    if (!ParseChunkSizeLine(line, limits.MaxLineLength, limits.MaxChunkSize, size)) return TBodyRead::BadChunk;
    if (size == 0) return TBodyRead::Ok;
    if (size > limits.MaxBodySize - total) return TBodyRead::TooLarge;
    const TBodyRead data = ReadIdentityBody(socket, size, sink, stop);
    if (data != TBodyRead::Ok) return data;
    total += size;
    // The chunk's own line end.
    std::string lineEnd;
    while (lineEnd.size() < 2) {
      const char* bytes = nullptr;
      const int count = socket.ReadBlock(static_cast<int>(2 - lineEnd.size()), bytes);
      if (count < 1) return TBodyRead::ReadFailed;
      lineEnd.append(bytes, static_cast<size_t>(count));
    }
    if (lineEnd != "\r\n") return TBodyRead::BadChunk;
  }
}

// ---------------------------------------------------------------------------
// THttpGetDocument

THttpGetDocument::THttpGetDocument(const THttpDocumentOptions& options)
    : FOptions(options),
      FConnection(std::make_unique<THttpConnection>(options.Limiter, options.ConnectTimeoutMs)),
      FProgress(options.NoProgressMs, options.UsefulBytes) {
  FConnection->SetStopFlag([this] { return Stopping(); });
  FConnection->SetConnectWatch([this](bool connecting, bool connected) {
    FWatchdogTick = connecting ? std::max<uint32_t>(GetTickCount32(), 1) : 0;
    if (connecting) return;
    FProgress.Restart();
    FGuarded = connected;
  });
  Start();
}

THttpGetDocument::~THttpGetDocument() {
  FAborted = true;
  TerminateAndWait();
}

void THttpGetDocument::Execute() {
  while (!Terminated()) {
    FWake.WaitFor(FOptions.WatchdogPollMs);
    const uint32_t tick = FWatchdogTick.load();
    if (tick != 0 && GetTickCount32() - tick > FOptions.WatchdogMs) {
      // Only this tick's connect is aborted; a new round sets a new tick.
      uint32_t expected = tick;
      if (FWatchdogTick.compare_exchange_strong(expected, 0)) {
        DebugOutput("THttpGetDocument watchdog: connect timed out, closing");
        FConnection->Abort();
      }
    }
    if (FGuarded && FProgress.Expired() && !FTooSlow.exchange(true)) {
      DebugOutput("THttpGetDocument watchdog: too little of the answer came, closing");
      FConnection->Abort();
    }
  }
}

void THttpGetDocument::Abort() {
  FAborted = true;
  FConnection->Abort();
}

void THttpGetDocument::Fail(const std::string& errorText) {
  FErrorText = errorText;
  FHeaderLines = FResponse.Status() > 0 ? FResponse.HeaderLines() : std::string();
}

bool THttpGetDocument::Get(const std::string& url, const std::string& address) {
  THttpHeader request;
  request.SetRequest("GET", UrlSlashes(url));
  return Fetch(request, address);
}

bool THttpGetDocument::Fetch(const THttpHeader& request, const std::string& address) {
  struct TUnguard {
    std::atomic<bool>& guarded;
    ~TUnguard() { guarded = false; }
  } unguard{FGuarded};
  FTooSlow = false;
  const bool ok = FetchRounds(request, address);
  if (!ok && FTooSlow) {
    Fail(Format("no answer brought %lld bytes in %u ms", static_cast<long long>(FOptions.UsefulBytes),
                FOptions.NoProgressMs) + "\r\n" + FHeaderLines);
  }
  return ok;
}

bool THttpGetDocument::FetchRounds(const THttpHeader& request, const std::string& address) {
  FRequest = request;
  FBody.clear();
  FErrorText.clear();
  FHeaderLines.clear();
  FResponse.Clear();
  std::string host = address.empty() ? FRequest.Host() : address;
  for (int redirects = 0;; ++redirects) {
    if (FRequest.Port() == 0) {
      Fail(FRequest.ErrorText());
      return false;
    }
    const TRound round = RunRound(host);
    if (round == TRound::Failed) return false;
    if (round == TRound::Done) break;
    if (redirects >= FOptions.Limits.MaxRedirects) {
      Fail(Format("Too many redirects: more than %d, last Location: %s", FOptions.Limits.MaxRedirects,
                  FResponse.GetField("Location").c_str()));
      DebugOutput(FErrorText);
      return false;
    }
    // Follow the redirect with the new URL's own host.
    THttpHeader next;
    std::string refusal;
    if (!RedirectRequest(FRequest, FResponse, next, refusal)) {
      Fail(refusal + "\r\n" + FResponse.HeaderLines());
      if (IsDowngrade(FRequest, next)) LogError(refusal);
      return false;
    }
    FRequest = next;
    host = FRequest.Host();
  }

  DebugOutput("DoRequest " + address);
  if (!ReadBody()) return false;
  return Decode();
}

THttpGetDocument::TRound THttpGetDocument::RunRound(const std::string& host) {
  // Each round reads a fresh response: fields of a redirect answer must not
  // leak into the next one (a stale Content-Length or Content-Encoding).
  FResponse.PrepareResponse(FRequest);
  if (Stopping()) return TRound::Failed;
  TBlockSocket& socket = FConnection->Socket();
  const TExchange exchange = FConnection->Exchange(FRequest, host == FRequest.Host() ? std::string() : host, {},
                                                   FResponse, FOptions.Limits);
  if (exchange != TExchange::Answered) {
    // A refused certificate or handshake names itself (for the run's log).
    if (exchange == TExchange::ConnectFailed && socket.TlsRefusal() != TTlsRefusal::None) {
      const std::string text = socket.ErrorText();
      Fail(text.substr(text.find(':') + 1));
    }
    if (exchange == TExchange::ReadFailed) DebugOutput("DoRequest2 ReadLine Error.");
    // A refused line names its reason; the header lines read so far follow.
    if (exchange == TExchange::Invalid) Fail(FResponse.ErrorText() + "\r\n" + FResponse.HeaderLines());
    FConnection->Close();
    return TRound::Failed;
  }

  const int status = FResponse.Status();
  if (status == 200 || status == 206) return TRound::Done;
  FConnection->Close();
  if (status == 301 || status == 302) return TRound::Redirect;
  if (status > 0) DebugOutput(std::to_string(status) + " " + FResponse.Reason() + " " + FRequest.Path());
  Fail(FResponse.HeaderLines());
  return TRound::Failed;
}

bool THttpGetDocument::ReadBody() {
  const uint64_t maxBody = FOptions.Limits.MaxBodySize;
  const THttpBodySink sink = [this, maxBody](const char* data, size_t length) {
    FProgress.Add(static_cast<int64_t>(length));
    if (FBody.size() + length > maxBody) return false;
    FBody.append(data, length);
    return true;
  };
  const THttpStopFlag stop = [this] { return Stopping(); };

  TBodyRead result;
  if (FResponse.IsChunked()) {
    uint64_t total = 0;
    result = ReadChunkedBody(FConnection->Socket(), FOptions.Limits, sink, stop, total);
    if (result == TBodyRead::ReadFailed || result == TBodyRead::BadChunk) {
      DebugOutput("ReadChunkedDocument2 ReadLine Error");
    }
  } else if (FResponse.HasField("Content-Length")) {
    const uint64_t length = static_cast<uint64_t>(FResponse.ContentLength());
    if (length > maxBody) {
      result = TBodyRead::TooLarge;
    } else {
      result = ReadIdentityBody(FConnection->Socket(), length, sink, stop);
      if (result == TBodyRead::ReadFailed) DebugOutput("ReadIdentityDocument ERROR!!!");
    }
  } else {
    // No length and not chunked: the body runs until the server closes
    // the connection ("Connection: close").
    result = ReadBodyUntilClose(FConnection->Socket(), maxBody, sink, stop);
  }
  FConnection->Close();
  if (result == TBodyRead::Ok) return true;
  if (result == TBodyRead::TooLarge) {
    Fail("Document body exceeds " + std::to_string(maxBody) + " bytes\r\n" + FResponse.HeaderLines());
  } else if (result == TBodyRead::BadChunk) {
    Fail("Invalid chunk in the body\r\n" + FResponse.HeaderLines());
  } else {
    Fail(FResponse.HeaderLines());
  }
  FBody.clear();
  return false;
}

bool THttpGetDocument::Decode() {
  const int windowBits = FResponse.ContentCoding();
  if (windowBits == 0) return true;
  std::string inflated;
  std::string error;
  switch (InflateBuffer(FBody, windowBits, FOptions.Limits.MaxInflatedSize, inflated, error)) {
    case TInflateResult::Ok:
      FBody.swap(inflated);
      return true;
    case TInflateResult::TooLarge:
      FBody.clear();
      Fail("Decoded body exceeds " + std::to_string(FOptions.Limits.MaxInflatedSize) + " bytes\r\n" +
           FResponse.HeaderLines());
      DebugOutput(FErrorText);
      return false;
    case TInflateResult::Corrupt:
      break;
  }
  FBody.clear();
  throw EInflateError("Inflate error: " + error);
}
