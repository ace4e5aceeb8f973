// The system debug output: OutputDebugStringA on Windows, one line on stderr elsewhere.
#pragma once
#include <functional>
#include <string>

void DebugOutput(const std::string& line);

// Tests and tools may observe every line as well; the observer runs on the
// calling thread. Pass an empty function to remove it.
void SetDebugOutputObserver(std::function<void(const std::string&)> observer);
