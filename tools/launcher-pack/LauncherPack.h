// The launcher-pack program: command dispatch and exit codes, apart from
// main() so the tests run the tool as its users do.
#pragma once
#include <ostream>
#include <string>
#include <vector>

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;  // pack failed, or inspect found a problem
constexpr int ExitUsage = 2;

// `args` are the arguments after the program name, in UTF-8.
int RunLauncherPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
