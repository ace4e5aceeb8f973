// The program's arguments in UTF-8, as the operator tools read them. On
// Windows they come from the wide command line: the narrow argv holds the
// ANSI code page, which cannot spell a Chinese folder on most systems.
#pragma once
#include <string>
#include <vector>

// Arguments 1 to argc - 1.
std::vector<std::string> ProgramArguments(int argc, char** argv);
