#include "launcher/logic/EntryModes.h"

#include "common/TextCase.h"
#include "install/logic/SelfUpdate.h"

bool FindWebAddress(const std::vector<std::string>& arguments, std::string& address) {
  for (const std::string& argument : arguments) {
    const size_t at = argument.find("/web");
    if (at == std::string::npos) continue;
    const size_t from = at + 5;
    address = from < argument.size() ? argument.substr(from) : std::string();
    return true;
  }
  return false;
}

TEntryChoice ChooseEntryMode(const std::vector<std::string>& arguments, const std::string& programPath) {
  TEntryChoice choice;
  if (FindWebAddress(arguments, choice.WebAddress)) {
    choice.Mode = TEntryMode::WebPage;
  } else if (IsSelfUpdateProgram(programPath)) {
    choice.Mode = TEntryMode::SelfUpdate;
  } else {
    for (size_t i = 1; i < arguments.size(); ++i)
      if (SameText(arguments[i], RepairSwitch)) choice.Repair = true;
    // The switch names no file: a hand-over never passes it as argument 1.
    if (arguments.size() > 1 && !SameText(arguments[1], RepairSwitch)) choice.HandOver = arguments[1];
  }
  return choice;
}
