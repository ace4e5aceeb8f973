// The launcher-keys program: command dispatch and exit codes, apart from
// main() so the tests run the tool as its users do.
//   launcher-keys new PRIVATE_KEY_FILE     makes a key, prints its public key text
//   launcher-keys public PRIVATE_KEY_FILE  prints the public key text of a key file
#pragma once
#include <ostream>
#include <string>
#include <vector>

extern const char* const KeysUsage;

// `args` are the arguments after the program name, in UTF-8. Exit code 0 on
// success, 1 when the key cannot be made, read or written (or this build
// cannot sign), 2 on a usage error.
int RunLauncherKeys(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
