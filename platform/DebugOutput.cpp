#include "platform/DebugOutput.h"

#include <mutex>

#include "platform/SystemDebugOutput.h"

namespace {
std::mutex ObserverLock;
std::function<void(const std::string&)> Observer;
}  // namespace

void DebugOutput(const std::string& line) {
  WriteSystemDebugOutput(line);
  std::function<void(const std::string&)> observer;
  {
    std::lock_guard<std::mutex> guard(ObserverLock);
    observer = Observer;
  }
  if (observer) observer(line);
}

void SetDebugOutputObserver(std::function<void(const std::string&)> observer) {
  std::lock_guard<std::mutex> guard(ObserverLock);
  Observer = std::move(observer);
}
