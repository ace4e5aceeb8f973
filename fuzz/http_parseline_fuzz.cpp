// Response header lines and chunk-size lines on arbitrary bytes: no crash,
// and the parser never keeps more than its limits allow.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/cHttpSend.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  THttpLimits limits;
  limits.MaxLineLength = 256;
  limits.MaxHeaderLines = 16;
  limits.MaxChunkSize = 1 << 20;
  const std::string text(reinterpret_cast<const char*>(data), size);

  // The first byte picks the requested range start that "Content-Range" is
  // checked against.
  THttpHeader request;
  request.SetRequest("GET", "http://h/f");
  request.SetRange(size > 0 ? data[0] : 0, -1);
  THttpHeader response;
  response.PrepareResponse(request);

  size_t start = 0;
  size_t lines = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;

    uint64_t chunk = 0;
    if (ParseChunkSizeLine(line, limits.MaxLineLength, limits.MaxChunkSize, chunk) && chunk > limits.MaxChunkSize) {
      abort();
    }
    if (!response.ParseLine(line, limits)) break;
    if (++lines > limits.MaxHeaderLines || response.Fields().size() > limits.MaxHeaderLines) abort();
  }
  response.ContentCoding();
  response.IsChunked();
  response.HeaderLines();
  if (response.ContentLength() < 0 || response.RangeTotal() < 0) abort();
  return 0;
}
