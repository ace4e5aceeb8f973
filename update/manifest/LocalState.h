// The local update state: what the launcher has verified, one entry per
// file, kept in data\update%d.local between runs. One line per entry,
// CR LF separated: name "=" digest "-" time, where time is the file's
// last-write time (local, packed DOS date and time) as a signed decimal.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "http/cHashClass.h"

struct TStateEntry {
  std::string name;
  int isLauncher = 0;
  std::string digest;
  int32_t time = 0;
  // LoadState found a file at `name` when it looked at its time: the compare
  // that follows it needs no second look (TUpdateFiles::DiskChanged).
  bool seenAtLoad = false;
};

using TStateTable = TNamesHash<TStateEntry>;
constexpr size_t StateTableBuckets = 1023;
// A state file larger than this is not ours; it is read as empty.
constexpr int64_t MaxStateFileSize = 256 << 20;

// Splits state text into lines (CR LF, LF or CR) and hands each well-formed
// one to `line` as (name, digest, time). A line without "=", or whose value
// has no "-" after its first character, is skipped; a time that is not a
// number reads as 0.
void ParseStateText(const std::string& text,
                    const std::function<void(const std::string&, const std::string&, int32_t)>& line);
// The same walk handing out views into `text`, for a large state file.
template <class TLine>
void ForEachStateLine(std::string_view text, TLine&& line);
std::string FormatStateLine(const TStateEntry& entry);
// Appends the line and its CR LF to `text`.
void AppendStateLine(const TStateEntry& entry, std::string& text);

// A state line's time: up to 20 characters after the "-", 0 when they are
// not a number.
int32_t StateLineTime(std::string_view text);

template <class TLine>
void ForEachStateLine(std::string_view text, TLine&& line) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view one = text.substr(start, end - start);
    const size_t equals = one.find('=');
    if (equals != std::string_view::npos) {
      const std::string_view value = one.substr(equals + 1);
      const size_t dash = value.find('-');
      if (dash != std::string_view::npos && dash != 0)
        line(one.substr(0, equals), value.substr(0, dash), StateLineTime(value.substr(dash + 1, 20)));
    }
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
}
