// The program's command line as the launcher reads it (the program path is
// argument 0): arguments separated by runs of characters 1 to 32, double
// quotes grouping text with blanks and dropped, no escape character.
#pragma once
#include <string>
#include <vector>

std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// `text` as one argument of such a command line: in double quotes when it is
// empty or holds a character 1 to 32, else unchanged.
std::string QuoteArgument(const std::string& text);
