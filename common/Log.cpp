#include "common/Log.h"

#include "platform/DebugOutput.h"

void LogError(const std::string& text) { DebugOutput(text); }
