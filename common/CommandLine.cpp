#include "common/CommandLine.h"

namespace {

// The trail byte of a double-byte character of code page 936 is 0x40 or
// above, so it is never taken for a blank or a quote.
bool IsBlank(char c) { return c >= 1 && c <= 32; }

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> arguments;
  size_t i = 0;
  const size_t end = commandLine.size();
  while (true) {
    while (i < end && IsBlank(commandLine[i])) ++i;
    if (i >= end) return arguments;
    std::string argument;
    bool quoted = false;
    for (; i < end && (quoted || !IsBlank(commandLine[i])); ++i) {
      if (commandLine[i] == '"')
        quoted = !quoted;
      else
        argument += commandLine[i];
    }
    arguments.push_back(argument);
  }
}

std::string QuoteArgument(const std::string& text) {
  bool blank = text.empty();
  for (char c : text) blank = blank || IsBlank(c);
  return blank ? "\"" + text + "\"" : text;
}
