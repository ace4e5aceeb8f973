#include "update/LocalState.h"

#include "platform/Profile.h"

namespace {

void ParseStateLine(const std::string& text,
                    const std::function<void(const std::string&, const std::string&, int32_t)>& line) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return;
  const std::string value = text.substr(equals + 1);
  const size_t dash = value.find('-');
  if (dash == std::string::npos || dash == 0) return;
  int time = 0;
  if (!TryParseInt(value.substr(dash + 1, 20), time)) time = 0;
  line(text.substr(0, equals), value.substr(0, dash), static_cast<int32_t>(time));
}

}  // namespace

void ParseStateText(const std::string& text,
                    const std::function<void(const std::string&, const std::string&, int32_t)>& line) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    ParseStateLine(text.substr(start, end - start), line);
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

std::string FormatStateLine(const TStateEntry& entry) {
  return entry.name + "=" + entry.digest + "-" + std::to_string(entry.time);
}
