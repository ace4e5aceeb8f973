// Implemented once per platform: hands one line to the system's debug output.
#pragma once
#include <string>

void WriteSystemDebugOutput(const std::string& line);
