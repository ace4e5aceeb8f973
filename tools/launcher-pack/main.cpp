// launcher-pack: appends the package to a launcher executable and inspects
// the package of an existing one.
#include <iostream>

#include "platform/Arguments.h"
#include "tools/launcher-pack/LauncherPack.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = ProgramArguments(argc, argv);
  return RunLauncherPack(args, std::cout, std::cerr);
}
