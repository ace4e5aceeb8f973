// DNS replies as they come off the wire: no crash, no read beyond the
// received bytes, no endless name, whatever the counts, lengths and
// compression pointers say. The first input byte picks the record type asked
// for; the rest is the reply, whose own ID is taken as the query's.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/uDnsLookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int types[] = {1, 2, 5, 6, 12, 13, 14, 15, 16, 26, 27, 28, 33, 99, 255};
  if (size < 1 || size > DnsMessageSize + 1) return 0;
  const int type = types[data[0] % (sizeof types / sizeof types[0])];
  const uint8_t* reply = data + 1;
  const int length = static_cast<int>(size - 1);
  const uint16_t id = length >= 2 ? static_cast<uint16_t>(reply[0] << 8 | reply[1]) : 0;

  std::vector<std::string> results;
  ParseDnsReply(reply, length, id, type, results);
  for (const std::string& text : results)
    if (text.empty() || text.size() > 8 * DnsMaxNameText) abort();

  for (int at = 0; at < length; at += 3) {
    int position = at;
    const std::string name = ReadDnsName(reply, length, position);
    if (position < at || position > length || name.size() > DnsMaxNameText) abort();
  }
  return 0;
}
