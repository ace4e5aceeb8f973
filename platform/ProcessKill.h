// Ending other processes by their image name or program file.
#pragma once
#include <string>

// Ends every process whose executable file name (or, failing that, whole
// executable path) equals `imageName`, ignoring the case of A to Z. Processes
// that cannot be opened or ended are skipped without a word.
void KillProcessesByName(const std::string& imageName);

// Ends every process started from the program file `programPath` (its full
// path compared ignoring the case of A to Z), this one included when it is
// such a process. Processes of the same file name elsewhere go on.
void KillProcessesOfProgram(const std::string& programPath);

// The comparison on its own: letters A to Z match their lower case, every
// other byte must be equal.
bool SameImageName(const std::string& a, const std::string& b);
