// The command line of launcher-pack.
#pragma once
#include <string>
#include <vector>

#include "tools/launcher-pack/PackCommand.h"

enum class TToolCommand { Pack, Inspect, Help };

struct TToolArguments {
  TToolCommand command = TToolCommand::Help;
  TPackOptions pack;
  std::string inspectPath;  // code page 936
};

// Parses the arguments after the program name. They arrive in UTF-8, the
// terminal's encoding; paths are kept in code page 936.
bool ParseToolArguments(const std::vector<std::string>& args, TToolArguments& result, std::string& error);

const char* ToolUsage();
