#include "common/Md5Behind.h"

TMd5Behind::TMd5Behind() : FThread([this] { Run(); }) {}

TMd5Behind::~TMd5Behind() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStopping = true;
  }
  FChanged.notify_all();
  FThread.join();
}

void TMd5Behind::Add(const void* data, size_t length) {
  std::unique_lock<std::mutex> guard(FLock);
  FChanged.wait(guard, [this] { return !FPending; });
  FData = data;
  FLength = length;
  FPending = true;
  FChanged.notify_all();
}

void TMd5Behind::Wait() {
  std::unique_lock<std::mutex> guard(FLock);
  FChanged.wait(guard, [this] { return !FPending; });
}

std::string TMd5Behind::FinalHex() {
  Wait();
  return FMd5.FinalHex();
}

void TMd5Behind::Final(uint8_t digest[16]) {
  Wait();
  FMd5.Final(digest);
}

void TMd5Behind::Run() {
  std::unique_lock<std::mutex> guard(FLock);
  for (;;) {
    FChanged.wait(guard, [this] { return FPending || FStopping; });
    if (!FPending) return;
    const void* data = FData;
    const size_t length = FLength;
    guard.unlock();
    FMd5.Update(data, length);
    guard.lock();
    FPending = false;
    FChanged.notify_all();
  }
}
