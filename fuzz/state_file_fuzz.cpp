// The state file: every line either skipped or split into name, digest and
// time; the table takes each name once; saving writes what was parsed.
#include <cstdint>
#include <string>

#include "update/manifest/LocalState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TStateTable table(StateTableBuckets);
  ParseStateText(text, [&](const std::string& name, const std::string& digest, int32_t time) {
    if (name.find_first_of("\r\n") != std::string::npos || digest.empty()) __builtin_trap();
    table.Add(name, std::make_unique<TStateEntry>(TStateEntry{name, 0, digest, time}));
  });
  size_t count = 0;
  for (TStateEntry* entry = table.First(); !table.AtEnd(); entry = table.Next()) {
    if (FormatStateLine(*entry).size() < entry->name.size() + 2) __builtin_trap();
    ++count;
  }
  if (count != table.Count()) __builtin_trap();
  return 0;
}
