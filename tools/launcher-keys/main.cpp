// launcher-keys: makes the key that signs releases and prints the public key
// text that the launcher's package carries.
#include <iostream>

#include "platform/Arguments.h"
#include "tools/launcher-keys/LauncherKeys.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = ProgramArguments(argc, argv);
  return RunLauncherKeys(args, std::cout, std::cerr);
}
