// HTTP dates on arbitrary bytes: no crash, and the result is always a valid
// calendar date and time of day.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/cSendUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose a local bias of up to +-14 hours.
  const int bias = (static_cast<int>(data[0]) * 256 + data[1]) % (14 * 60 * 2 + 1) - 14 * 60;
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  const THttpDateTime t = ParseHttpDate(text, bias);
  if (t.Month < 1 || t.Month > 12 || t.Day < 1 || t.Day > 31 || t.Hour < 0 || t.Hour > 23 || t.Minute < 0 ||
      t.Minute > 59 || t.Second < 0 || t.Second > 59) {
    abort();
  }
  const THttpDateTime back = SecondsToDateTime(DateTimeToSeconds(t));
  if (back.Year != t.Year || back.Month != t.Month || back.Day != t.Day) abort();
  return 0;
}
