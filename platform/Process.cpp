#include "platform/Process.h"

std::string ProcessCommandLine(const std::string& path, const std::string& arguments) {
  return arguments.empty() ? path : path + " " + arguments;
}
