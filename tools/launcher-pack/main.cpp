// launcher-pack: appends the package to a launcher executable and inspects
// the package of an existing one.
#include <iostream>

#include "tools/launcher-pack/LauncherPack.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return RunLauncherPack(args, std::cout, std::cerr);
}
