// The HTTP/1.1 client layer of the update engine: THttpHeader holds one
// request or one response and turns requests into bytes and response lines
// into fields; the wire helpers below run one request over a TBlockSocket;
// THttpGetDocument fetches one small document into memory, one request per
// connection ("Connection: close"). Connections that are kept for the next
// request are THttpConnection's. An "https://" URL runs over TLS
// (ConnectForRequest).
#pragma once
#include <atomic>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http/cBlockSocket.h"
#include "http/ProgressBound.h"
#include "http/cSendUtils.h"
#include "platform/Thread.h"

class THttpHeader {
public:
  using TField = std::pair<std::string, std::string>;

  // Clears the whole header, stores the method and the URL and parses the
  // URL: "http://" (port 80) or "https://" (port 443) in any case,
  // optional user information (sent as "Authorization: Basic"), host,
  // optional port, path. Then "Host" and the default fields follow. False
  // for a method other than GET, POST and HEAD (nothing changes) and for a
  // URL of any other scheme (the port stays 0, so any request with it fails
  // before connecting).
  bool SetRequest(const std::string& method, const std::string& url);
  // Drops fields, body and every parsed value.
  void Clear();

  // Replaces the value of the field of that name (ignoring case) in place,
  // else appends the field. "Content-Location", "Content-Length", "Range" and
  // "Content-Range" also set their parsed values. False only when a
  // "Content-Range" start differs from the request's range start: the
  // response is then invalid and ErrorText() says so.
  bool SetField(const std::string& name, const std::string& value);
  // The value, or empty when the field is absent.
  std::string GetField(const std::string& name) const;
  bool HasField(const std::string& name) const;
  const std::vector<TField>& Fields() const { return FFields; }

  // "Range: bytes=start-end", or "bytes=start-" when end is negative, and
  // "Accept-Encoding: identity": a range is of the file's own bytes.
  void SetRange(int64_t start, int64_t end);
  // Drops the "Range" line and the range; "Accept-Encoding" stays.
  void ClearRange();

  // The request line, the fields in their order and the empty line.
  std::string BuildRequest() const;

  // One response header line without its line end: the status line while
  // the status is 0, then fields and continuation lines. False when the
  // line or the number of lines passes the limits or a "Content-Range"
  // does not match the request; ErrorText() then names the reason.
  bool ParseLine(const std::string& line, const THttpLimits& limits);
  // Before a new response is read: status 0, reason and line count cleared.
  void ClearStatus();
  // For a response: forgets the previous response's fields and takes the
  // range and URL of the request it answers.
  void PrepareResponse(const THttpHeader& request);

  // zlib window bits for "Content-Encoding": 47 for gzip, -15 for deflate,
  // 0 for no decoding.
  int ContentCoding() const;
  // "Transfer-EnCoding", trimmed, is "Chunked" ignoring case.
  bool IsChunked() const;
  // Each field as name + ": " + value + CR LF, then CR LF.
  std::string HeaderLines() const;

  const std::string& Method() const { return FMethod; }
  const std::string& Version() const { return FVersion; }
  const std::string& Host() const { return FHost; }
  int Port() const { return FPort; }
  // An "https://" URL: the request goes over TLS.
  bool Secure() const { return FSecure; }
  const std::string& Path() const { return FPath; }
  const std::string& Url() const { return FUrl; }
  void SetUrl(const std::string& url) { FUrl = url; }
  int Status() const { return FStatus; }
  const std::string& Reason() const { return FReason; }
  const std::string& ErrorText() const { return FErrorText; }

  int64_t ContentLength() const { return FContentLength; }
  void SetContentLength(int64_t length) { FContentLength = length; }
  int64_t RangeTotal() const { return FRangeTotal; }
  // The last byte of a "Content-Range: bytes START-END/TOTAL" with every
  // number present; -1 otherwise.
  int64_t ContentRangeEnd() const { return FContentRangeEnd; }
  int64_t RangeStart() const { return FRangeStart; }
  // -1 for an open range ("bytes=start-").
  int64_t RangeEnd() const { return FRangeEnd; }
  // A range with a known last byte (not "start-").
  bool HasBoundedRange() const { return FRangeEnd > 0 && FRangeEnd >= FRangeStart; }
  void SetRangeStart(int64_t start) { FRangeStart = start; }
  void SetRangeEnd(int64_t end) { FRangeEnd = end; }
  // Body bytes of this response already handed on.
  int64_t Delivered() const { return FDelivered; }
  void SetDelivered(int64_t delivered) { FDelivered = delivered; }

  // The request body, sent after the header when not empty.
  std::string& Body() { return FBody; }
  const std::string& Body() const { return FBody; }

private:
  void ParseUrl(const std::string& url);
  bool ParseStatusLine(const std::string& line);
  // SetField for a line of a response, which never changes the range.
  bool SetResponseField(const std::string& name, const std::string& value);
  bool SetContentRange(const std::string& value);

  std::string FMethod;
  std::string FVersion = "HTTP/1.1";
  std::string FHost;
  int FPort = 0;
  bool FSecure = false;
  std::string FPath;
  std::string FUrl;
  std::vector<TField> FFields;
  std::string FBody;
  int FStatus = 0;
  std::string FReason;
  std::string FErrorText;
  size_t FLineCount = 0;
  // The field that the previous line set: a continuation line extends it.
  size_t FLastField = SIZE_MAX;
  int64_t FContentLength = 0;
  int64_t FRangeTotal = 0;
  int64_t FContentRangeEnd = -1;
  int64_t FRangeStart = 0;
  int64_t FRangeEnd = 0;
  int64_t FDelivered = 0;
};

// ---------------------------------------------------------------------------
// One request over a connected socket: the steps of THttpConnection, and
// the body readers of everything that reads answers.

// Connects `socket` for `request`: to `address` (IPv4 text) when given,
// else to the URL's host; over TLS to the URL's host for an "https://" URL.
bool ConnectForRequest(TBlockSocket& socket, const THttpHeader& request, const std::string& address, int timeoutMs);
// What a kept-alive connection serves: scheme, host (or address) and port.
std::string ConnectionKey(const THttpHeader& request, const std::string& address);
// A redirect from an "https://" URL to a plain one: refused.
bool IsDowngrade(const THttpHeader& from, const THttpHeader& to);
// The one set of rules for following a redirect answer to `from`: `next`
// becomes a GET of its Location with the range of `from` (if any), the
// cookie the answer set and the page it came from. False, with the reason
// in `refusal`, for a Location that is not an http or https URL and for a
// downgrade from https to http.
bool RedirectRequest(const THttpHeader& from, const THttpHeader& response, THttpHeader& next, std::string& refusal);

// Requests out on one kept-alive connection before their answers come: at
// 16 KiB a file and some megabytes a second per connection, about what one
// round trip of 50 ms carries.
constexpr int PipelineDepth = 8;

// Every byte of `data` (several requests sent ahead of their answers, say);
// false on a short send.
bool SendAll(TBlockSocket& socket, const std::string& data);
// Sends the request text and then the body; false on a short send.
bool SendHttpRequest(TBlockSocket& socket, const THttpHeader& request);

enum class THeaderRead { Ok, ReadFailed, Invalid };
// ClearStatus, then reads and parses lines until the empty line. ReadFailed
// when a line cannot be read (peer closed, timeout, line longer than the
// socket's buffer); Invalid when ParseLine refused a line.
THeaderRead ReadHttpResponseHeader(TBlockSocket& socket, THttpHeader& response, const THttpLimits& limits);

// Receives body data; false stops the read as failed.
using THttpBodySink = std::function<bool(const char* data, size_t length)>;
// Polled between pieces; true stops the read as failed.
using THttpStopFlag = std::function<bool()>;

enum class TBodyRead { Ok, ReadFailed, BadChunk, TooLarge, Stopped };
// Exactly `length` bytes, in pieces of at most 9216 bytes.
TBodyRead ReadIdentityBody(TBlockSocket& socket, uint64_t length, const THttpBodySink& sink,
                           const THttpStopFlag& stop);
// Everything until the peer closes, at most `maxLength` bytes.
TBodyRead ReadBodyUntilClose(TBlockSocket& socket, uint64_t maxLength, const THttpBodySink& sink,
                             const THttpStopFlag& stop);
// Size lines, chunk data and line ends up to the chunk of size 0. `total`
// counts the data bytes; more than limits.MaxBodySize is TooLarge.
TBodyRead ReadChunkedBody(TBlockSocket& socket, const THttpLimits& limits, const THttpBodySink& sink,
                          const THttpStopFlag& stop, uint64_t& total);

// ---------------------------------------------------------------------------

class THttpConnection;

struct THttpDocumentOptions {
  // A connect still pending after this long is aborted by closing the socket.
  uint32_t WatchdogMs = 8000;
  uint32_t WatchdogPollMs = 100;
  uint32_t ConnectTimeoutMs = 10000;
  // From the connect on, every window of this long must bring UsefulBytes of
  // the answer or all of it: a server that drips bytes is cut off like a
  // silent one (the download engine's no-progress bound).
  uint32_t NoProgressMs = 60000;
  int64_t UsefulBytes = 64 << 10;
  THttpLimits Limits;
  // The run's rate cap; null: none.
  std::shared_ptr<TRateLimiter> Limiter;
};

// Fetches one small document. Its own thread is the connect watchdog. Get
// runs on the caller's thread; Abort may be called from any other thread.
// The object must not be released before the calling thread has left Get.
class THttpGetDocument : public TThread {
public:
  explicit THttpGetDocument(const THttpDocumentOptions& options = THttpDocumentOptions());
  ~THttpGetDocument() override;

  // GET of `url`, through the IPv4 `address` instead of the URL's host when
  // one is given. Follows up to Limits.MaxRedirects redirects (301, 302).
  // On success Body() holds the decoded document; on failure ErrorText()
  // holds the response's header lines (empty when no response was read) or
  // the reason the response was refused. Throws EInflateError for a gzip or
  // deflate body that does not inflate.
  bool Get(const std::string& url, const std::string& address);
  // The same with a prepared request (a range, a body, extra fields).
  bool Fetch(const THttpHeader& request, const std::string& address);
  // Closes the connection so that a blocked Get returns at once; a Get that
  // is still reading its body stops.
  void Abort();

  const std::string& Body() const { return FBody; }
  const std::string& ErrorText() const { return FErrorText; }
  // The header lines of the response that failed (empty when none was
  // read), without any reason of our own that ErrorText() puts before them.
  const std::string& ResponseHeaderLines() const { return FHeaderLines; }
  const THttpHeader& Request() const { return FRequest; }
  const THttpHeader& Response() const { return FResponse; }

protected:
  void Execute() override;
  void TerminatedSet() override { FWake.SetEvent(); }
  std::string ThreadName() const override { return "THttpGetDocument"; }

private:
  enum class TRound { Done, Redirect, Failed };
  bool FetchRounds(const THttpHeader& request, const std::string& address);
  TRound RunRound(const std::string& host);
  bool ReadBody();
  bool Decode();
  void Fail(const std::string& errorText);
  bool Stopping() const { return FAborted.load(); }

  THttpDocumentOptions FOptions;
  std::unique_ptr<THttpConnection> FConnection;
  THttpHeader FRequest;
  THttpHeader FResponse;
  std::string FBody;
  std::string FErrorText;
  std::string FHeaderLines;
  std::atomic<uint32_t> FWatchdogTick{0};
  std::atomic<bool> FAborted{false};
  TProgressBound FProgress;
  // The watchdog holds the answer to FProgress while set; it closed the
  // connection of a server too slow.
  std::atomic<bool> FGuarded{false};
  std::atomic<bool> FTooSlow{false};
  TEvent FWake;
};
