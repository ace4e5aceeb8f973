// Prints the launcher's MD5 of each file named, like md5sum, so the two can
// be timed side by side.
#include <cstdio>

#include "common/Md5.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) std::printf("%s  %s\n", MD5OfFile(argv[i]).c_str(), argv[i]);
  return 0;
}
