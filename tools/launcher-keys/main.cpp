// launcher-keys: makes the key that signs releases and prints the public key
// text that the launcher's package carries.
#include <iostream>

#include "tools/launcher-keys/LauncherKeys.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return RunLauncherKeys(args, std::cout, std::cerr);
}
