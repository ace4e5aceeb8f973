#include "update/DigestAhead.h"

#include <system_error>

#include "update/UpdateFiles.h"

TDigestAhead::TDigestAhead(unsigned threads) {
  try {
    for (unsigned t = 1; t < threads; ++t) FHelpers.emplace_back(&TDigestAhead::Helper, this);
  } catch (const std::system_error&) {
    // Without another thread the walk's own thread does all the work.
  }
}

TDigestAhead::~TDigestAhead() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  for (std::thread& helper : FHelpers) helper.join();
}

TDigestResult TDigestAhead::Work(const std::string& path) {
  TDigestResult result;
  try {
    result.check = CheckFile(path);
    if (result.check.isFile) result.digest = FileDigest(path);
    result.done = true;
  } catch (...) {
    // Left to the walk, which digests the file itself.
  }
  return result;
}

uint64_t TDigestAhead::Add(const std::string& path) {
  std::lock_guard<std::mutex> guard(FLock);
  FJobs.push_back(TJob{path, 0, {}});
  if (!FHelpers.empty()) FChanged.notify_one();
  return FFirstTicket + FJobs.size() - 1;
}

size_t TDigestAhead::Pending() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FJobs.size();
}

TDigestResult TDigestAhead::Take(uint64_t ticket) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FJobs.empty() || ticket != FFirstTicket) return TDigestResult{};
  TJob& job = FJobs.front();
  if (job.state == 0) {
    // No helper has begun it: doing it here beats waiting for one.
    job.state = 1;
    FNextQueued = 1;
    const std::string path = job.path;
    lock.unlock();
    TDigestResult result = Work(path);
    lock.lock();
    FJobs.pop_front();
    ++FFirstTicket;
    if (FNextQueued) --FNextQueued;
    return result;
  }
  FChanged.wait(lock, [&] { return FJobs.front().state == 2; });
  TDigestResult result = std::move(FJobs.front().result);
  FJobs.pop_front();
  ++FFirstTicket;
  if (FNextQueued) --FNextQueued;
  return result;
}

void TDigestAhead::Helper() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    while (FNextQueued < FJobs.size() && FJobs[FNextQueued].state != 0) ++FNextQueued;
    if (FStop) return;
    if (FNextQueued >= FJobs.size()) {
      FChanged.wait(lock);
      continue;
    }
    const uint64_t ticket = FFirstTicket + FNextQueued;
    FJobs[FNextQueued].state = 1;
    const std::string path = FJobs[FNextQueued].path;
    lock.unlock();
    TDigestResult result = Work(path);
    lock.lock();
    TJob& job = FJobs[static_cast<size_t>(ticket - FFirstTicket)];
    job.result = std::move(result);
    job.state = 2;
    FChanged.notify_all();
  }
}
