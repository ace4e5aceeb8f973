// Ending other processes by their image name.
#pragma once
#include <string>

// Ends every process whose executable file name (or, failing that, whole
// executable path) equals `imageName`, ignoring the case of A to Z. Processes
// that cannot be opened or ended are skipped without a word.
void KillProcessesByName(const std::string& imageName);

// The comparison on its own: letters A to Z match their lower case, every
// other byte must be equal.
bool SameImageName(const std::string& a, const std::string& b);
