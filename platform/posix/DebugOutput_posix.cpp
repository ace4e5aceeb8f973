#include <cstdio>

#include "platform/SystemDebugOutput.h"

void WriteSystemDebugOutput(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
}
