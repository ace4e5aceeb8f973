// The launcher's log line: handed unchanged to the system debug output.
#pragma once
#include <string>

void LogError(const std::string& text);
