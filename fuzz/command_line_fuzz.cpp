// The program's command line on arbitrary bytes: no crash, no argument holds
// a quote, and the arguments quoted again and joined read back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> arguments = SplitCommandLine(text);
  std::string joined;
  for (const std::string& argument : arguments) {
    if (argument.find('"') != std::string::npos) abort();
    joined += QuoteArgument(argument) + " ";
  }
  if (SplitCommandLine(joined) != arguments) abort();
  return 0;
}
