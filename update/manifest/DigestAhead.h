// Files digested ahead of the compare's walk. The walk hands in the files it
// will need, in manifest order, and later takes each result in that order;
// helper threads digest the queued files meanwhile, earliest first, so both
// cores stay busy without waiting for each other at any block boundary. A
// result the walk asks for before any helper started on it is worked on by
// the walk's own thread.
//
// Four files are in work per digest thread (beyond a plain serial walk): on
// a cold cache a file mostly waits for the disk, and while some wait another
// is digested. The files are read in plain chunks, not through mapped views:
// on Linux the page faults of several threads' views queue on the process's
// one address space, and a second thread then gained next to nothing.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileTime.h"

// The file digest (FileDigest's result, 32 "0" for a file that cannot be
// read, an empty one included) from plain reads into `buffer`.
std::string ReadFileDigest(const std::string& path, std::vector<char>& buffer);

struct TDigestResult {
  TFileCheck check;
  std::string digest;  // empty when the path is no file or the work failed
  bool done = false;   // false: the work failed; the caller digests itself
};

class TDigestAhead {
public:
  // `threads` digest threads, the walk's own included: 1 starts no helper,
  // more start 3 x threads - 1.
  explicit TDigestAhead(unsigned threads);
  ~TDigestAhead();
  TDigestAhead(const TDigestAhead&) = delete;
  TDigestAhead& operator=(const TDigestAhead&) = delete;

  // Queues a file; returns its ticket. Tickets are taken in the order given.
  uint64_t Add(const std::string& path);
  // The result of the oldest ticket not taken yet, which must be `ticket`.
  TDigestResult Take(uint64_t ticket);
  // Files queued and not taken.
  size_t Pending() const;

private:
  struct TJob {
    std::string path;
    int state = 0;  // 0 queued, 1 in work, 2 done
    TDigestResult result;
  };
  static TDigestResult Work(const std::string& path, std::vector<char>& buffer);
  void Helper();

  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TJob> FJobs;  // FJobs[0] has ticket FFirstTicket
  uint64_t FFirstTicket = 0;
  size_t FNextQueued = 0;  // index of the earliest job still queued
  bool FStop = false;
  std::vector<std::thread> FHelpers;
  std::vector<char> FBuffer;  // the walk's own
};
