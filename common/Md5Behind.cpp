#include "common/Md5Behind.h"

#include <algorithm>
#include <chrono>
#include <iterator>

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

namespace {
constexpr size_t FollowBlock = 1 << 20;
}

TMd5Follower::TMd5Follower(int64_t size, TRead read, TAlso also)
    : FSize(size), FRead(std::move(read)), FAlso(std::move(also)) {
  for (std::vector<char>& buffer : FBuffers) buffer.resize(FollowBlock);
  FThread = std::thread([this] { Run(); });
}

TMd5Follower::~TMd5Follower() { Stop(); }

void TMd5Follower::Written(int64_t offset, int64_t length) {
  if (length <= 0) return;
  std::lock_guard<std::mutex> guard(FLock);
  int64_t start = offset, end = offset + length;
  // Merge with every piece it touches or overlaps.
  auto at = FPieces.upper_bound(start);
  if (at != FPieces.begin() && std::prev(at)->second >= start) --at;
  while (at != FPieces.end() && at->first <= end) {
    start = std::min(start, at->first);
    end = std::max(end, at->second);
    at = FPieces.erase(at);
  }
  FPieces[start] = end;
  if (start == 0 && end > FPrefix) {
    FPrefix = std::min(end, FSize);
    FChanged.notify_all();
  }
}

bool TMd5Follower::WaitHashed(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> guard(FLock);
  FChanged.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return FHashed == FSize || FFailed; });
  return FHashed == FSize && !FFailed;
}

bool TMd5Follower::Failed() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FFailed;
}

void TMd5Follower::Stop() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStopping = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

std::string TMd5Follower::FinalHex() { return FMd5.FinalHex(); }

void TMd5Follower::Run() {
  int current = 0;
  std::unique_lock<std::mutex> guard(FLock);
  while (FHashed < FSize) {
    FChanged.wait(guard, [this] { return FPrefix > FHashed || FStopping; });
    if (FStopping) break;
    const int64_t at = FHashed;
    const size_t length = static_cast<size_t>(std::min<int64_t>(FPrefix - at, FollowBlock));
    guard.unlock();
    char* buffer = FBuffers[current].data();
    bool read = false;
    try {
      read = FRead(at, buffer, length);
      if (read) {
        FMd5.Add(buffer, length);
        if (FAlso) FAlso(buffer, length);
        current ^= 1;
      }
    } catch (...) {
      read = false;  // counts as a failed read: the digest is not finished
    }
    guard.lock();
    if (!read) {
      FFailed = true;
      break;
    }
    FHashed += static_cast<int64_t>(length);
  }
  FChanged.notify_all();
  guard.unlock();
  FMd5.Wait();
}
