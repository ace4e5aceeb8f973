#include <windows.h>

#include "platform/SystemDebugOutput.h"

void WriteSystemDebugOutput(const std::string& line) { OutputDebugStringA(line.c_str()); }
