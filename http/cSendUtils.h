// Pieces of the HTTP client layer that need no connection: size limits of
// the parsers, Base64 for "Authorization: Basic", the request path encoding,
// chunk-size lines, inflation of gzip and deflate bodies, and HTTP dates.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/TextCase.h"

// Every parser of a server's answer works within these bounds. The defaults
// fit the launcher's documents (manifests, release documents) with plenty of
// room; tests and fuzz targets pass smaller ones.
struct THttpLimits {
  size_t MaxLineLength = 8192;        // one header line or chunk-size line
  size_t MaxHeaderLines = 128;        // lines of one response header, status line included
  uint64_t MaxChunkSize = 64u << 20;  // one chunk of a chunked body
  uint64_t MaxBodySize = 64u << 20;   // a document body as it arrives
  uint64_t MaxInflatedSize = 64u << 20;  // a document body after gzip or deflate
  int MaxRedirects = 10;              // 301 and 302 answers followed by one request
};

// Raised when a gzip or deflate body does not inflate.
class EInflateError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// zlib window bits for the content codings: gzip or zlib header detected
// (15 + 32), and raw deflate data without header.
constexpr int GzipWindowBits = 47;
constexpr int RawDeflateWindowBits = -15;

// Removes characters up to and including the blank from both ends.
std::string TrimText(const std::string& text);

// Base64 (RFC 4648) with "=" padding.
std::string Base64Encode(const std::string& data);

// The request path as sent: code page 936 converted to UTF-8; the bytes
// A-Z a-z 0-9 - . / & = ? _ stay, a blank becomes %20 and every other byte
// %XX with upper-case hexadecimal digits.
std::string EncodeUrlPath(const std::string& path);

// Decimal texts of the header values; false for an empty text, a character
// that is not a digit, or a value that does not fit.
bool ParseDecimal(const std::string& text, int64_t& value);

// The size line of a chunk: hexadecimal, anything from the first blank or
// ";" on ignored (chunk extensions). False for a line longer than
// `maxLineLength`, no hexadecimal digits, any other character, or a size
// above `maxChunkSize`.
bool ParseChunkSizeLine(const std::string& line, size_t maxLineLength, uint64_t maxChunkSize,
                        uint64_t& size);

enum class TInflateResult { Ok, Corrupt, TooLarge };

// Inflates `data` in 32 KiB steps with the given window bits into `output`.
// TooLarge as soon as the output would pass `maxOutput` (the body is never
// expanded beyond it); Corrupt for a stream that fails or ends early, with
// zlib's message in `error`.
TInflateResult InflateBuffer(const std::string& data, int windowBits, uint64_t maxOutput,
                             std::string& output, std::string& error);

// A calendar date and time of day, without zone.
struct THttpDateTime {
  int Year = 1980;
  int Month = 1;
  int Day = 1;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
};

// Parses an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94
// 08:49:37 GMT", "Sun Nov  6 08:49:37 1994", numeric zones, the zone names of
// the table in the implementation) and converts it to local time, the local
// zone being `localBiasMinutes` east of UTC. Missing parts default to
// 1 January 1980, 00:00:00; a date without zone is taken as UTC; "-0000"
// names the local zone. Words longer than `maxWordLength` and texts longer
// than `maxTextLength` are not looked at.
THttpDateTime ParseHttpDate(const std::string& text, int localBiasMinutes,
                            size_t maxTextLength = 256, size_t maxWordLength = 32);

// Minutes the system's local time currently lies east of UTC (daylight
// saving included when it is in force).
int CurrentLocalBiasMinutes();

// Seconds since 1970-01-01 00:00:00 of a calendar date and time (no zone).
int64_t DateTimeToSeconds(const THttpDateTime& time);
THttpDateTime SecondsToDateTime(int64_t seconds);

// An HTTP date as seconds since 1970-01-01 UTC, for file times: parsed to
// local time with the current bias and turned back to UTC with the same bias.
int64_t HttpDateToUnixTime(const std::string& text);
