// launcher-manifest: writes the manifest, the per-file archives and the full
// package of a release folder into a folder that a static web server serves
// as the update server.
#include <iostream>

#include "platform/Arguments.h"
#include "tools/launcher-manifest/LauncherManifest.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = ProgramArguments(argc, argv);
  return RunLauncherManifest(args, std::cout, std::cerr);
}
