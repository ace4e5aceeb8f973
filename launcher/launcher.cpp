// Program entry of the launcher. The main window arrives with the shell; for
// now the entry reads the program's own package so its log lines can be seen
// in the debug output.
#include <windows.h>

#include <exception>

#include "common/Log.h"
#include "package/PackageReader.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  SetThreadLocale(2052);
  try {
    initconfig();
  } catch (const std::exception& e) {
    LogError(std::string("initconfig failed: ") + e.what());
    return 1;
  }
  return 0;
}
