// The program's command line on arbitrary bytes: no crash, no argument holds
// a quote, and the arguments quoted again and joined read back the same.
// The entry then settles its mode from them: a web address is the end of
// the argument that names "/web", and the hand-over argument is taken only
// in the launcher mode, never the "/repair" switch, which any argument after
// the program's path may give in any letter case.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/CommandLine.h"
#include "launcher/logic/EntryModes.h"

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

void CheckEntryMode(const std::vector<std::string>& arguments) {
  const std::string programPath = arguments.empty() ? std::string() : arguments[0];
  const TEntryChoice choice = ChooseEntryMode(arguments, programPath);
  bool web = false;
  for (const std::string& argument : arguments) web = web || argument.find("/web") != std::string::npos;
  switch (choice.Mode) {
    case TEntryMode::WebPage:
      for (const std::string& argument : arguments)
        if (argument.find("/web") != std::string::npos) {
          // The address is what follows "/web" and one more character.
          const size_t at = argument.find("/web");
          if (!EndsWith(argument, choice.WebAddress) ||
              (!choice.WebAddress.empty() && argument.size() - choice.WebAddress.size() != at + 5))
            abort();
          break;
        }
      if (!web) abort();
      break;
    case TEntryMode::SelfUpdate:
      if (web || !EndsWith(LowerAscii(programPath), ".update")) abort();
      break;
    case TEntryMode::Launcher: {
      bool repair = false;
      for (size_t i = 1; i < arguments.size(); ++i) repair = repair || LowerAscii(arguments[i]) == RepairSwitch;
      const bool switchFirst = arguments.size() > 1 && LowerAscii(arguments[1]) == RepairSwitch;
      const std::string handOver = arguments.size() > 1 && !switchFirst ? arguments[1] : std::string();
      if (web || choice.HandOver != handOver || choice.Repair != repair) abort();
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> arguments = SplitCommandLine(text);
  std::string joined;
  for (const std::string& argument : arguments) {
    if (argument.find('"') != std::string::npos) abort();
    joined += QuoteArgument(argument) + " ";
  }
  if (SplitCommandLine(joined) != arguments) abort();
  CheckEntryMode(arguments);
  return 0;
}
