// The server list document on arbitrary text: LoadFromText either loads,
// reports no document, or raises its own error; the records it leaves are
// consistent whatever happened.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "servers/uConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TServerConfig config("/nonexistent/");
  bool loaded = false;
  try {
    loaded = config.LoadFromText(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const EServerListError&) {
  }
  if (loaded && config.Servers().empty()) std::abort();
  for (const auto& record : config.PriorityServers())
    if (record->recommend != 2) std::abort();
  for (const auto& record : config.Servers()) {
    if (record->recommend == 2 || record->member.empty()) std::abort();
    config.UpdateLatency(record->ip, 1, record->id);
  }
  config.UpdateLatency("127.0.0.1", 5, 0x8001);
  const TServerInfo* found = config.FindById(size > 0 ? data[0] : 0);
  if (found == nullptr && (!config.Servers().empty() || !config.PriorityServers().empty())) std::abort();
  return 0;
}
