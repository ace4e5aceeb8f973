#include "update/LocalState.h"

#include <string_view>

#include "platform/Profile.h"

namespace {

void ParseStateLine(std::string_view text,
                    const std::function<void(const std::string&, const std::string&, int32_t)>& line) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view value = text.substr(equals + 1);
  const size_t dash = value.find('-');
  if (dash == std::string_view::npos || dash == 0) return;
  int time = 0;
  if (!TryParseInt(std::string(value.substr(dash + 1, 20)), time)) time = 0;
  line(std::string(text.substr(0, equals)), std::string(value.substr(0, dash)), static_cast<int32_t>(time));
}

}  // namespace

void ParseStateText(const std::string& text,
                    const std::function<void(const std::string&, const std::string&, int32_t)>& line) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    ParseStateLine(std::string_view(text).substr(start, end - start), line);
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

std::string FormatStateLine(const TStateEntry& entry) {
  return entry.name + "=" + entry.digest + "-" + std::to_string(entry.time);
}

void AppendStateLine(const TStateEntry& entry, std::string& text) {
  text.append(entry.name).append(1, '=').append(entry.digest).append(1, '-').append(std::to_string(entry.time));
  text.append("\r\n");
}
