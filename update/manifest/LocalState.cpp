#include "update/manifest/LocalState.h"

#include <string_view>

#include "platform/Profile.h"

int32_t StateLineTime(std::string_view text) {
  int time = 0;
  if (!TryParseInt(std::string(text), time)) time = 0;
  return static_cast<int32_t>(time);
}

void ParseStateText(const std::string& text,
                    const std::function<void(const std::string&, const std::string&, int32_t)>& line) {
  ForEachStateLine(text, [&](std::string_view name, std::string_view digest, int32_t time) {
    line(std::string(name), std::string(digest), time);
  });
}

std::string FormatStateLine(const TStateEntry& entry) {
  return entry.name + "=" + entry.digest + "-" + std::to_string(entry.time);
}

void AppendStateLine(const TStateEntry& entry, std::string& text) {
  text.append(entry.name).append(1, '=').append(entry.digest).append(1, '-').append(std::to_string(entry.time));
  text.append("\r\n");
}
