// MD5 of a stream taken on a thread of its own, one block behind the
// caller: while the caller reads and writes the next block, the last one is
// hashed. MD5 is serial and slower than a copy in the page cache, so a copy
// that hashes on its own thread takes about the time of the hash alone.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/Md5.h"

class TMd5Behind {
public:
  TMd5Behind();
  ~TMd5Behind();
  TMd5Behind(const TMd5Behind&) = delete;
  TMd5Behind& operator=(const TMd5Behind&) = delete;

  // Hands a block over. Returns once the block handed over before it is
  // hashed: the caller alternates two buffers and may refill the older one.
  void Add(const void* data, size_t length);
  // Waits until every block handed over is hashed: the caller may then
  // free or refill its buffers.
  void Wait();
  // Waits for the last block and finishes the digest.
  std::string FinalHex();  // 32 lowercase hexadecimal digits
  void Final(uint8_t digest[16]);

private:
  void Run();

  std::mutex FLock;
  std::condition_variable FChanged;
  const void* FData = nullptr;
  size_t FLength = 0;
  bool FPending = false;
  bool FStopping = false;
  TMd5 FMd5;
  std::thread FThread;
};

// The MD5 of a file whose pieces are put in place out of order, from
// several threads: each piece is reported once it is in place, and a thread
// of its own reads back and hashes the bytes in file order as far as the
// pieces reach from the start. The digest follows the writing, so it is
// done soon after the last piece lands instead of a pass over the whole
// file after it. `read` fills a block from the file (false: it cannot);
// `also` (may be empty) is a second digest fed the same blocks on the
// follower's thread while the MD5 runs on its own.
class TMd5Follower {
public:
  using TRead = std::function<bool(int64_t offset, void* buffer, size_t length)>;
  using TAlso = std::function<void(const void* data, size_t length)>;
  TMd5Follower(int64_t size, TRead read, TAlso also = nullptr);
  ~TMd5Follower();
  TMd5Follower(const TMd5Follower&) = delete;
  TMd5Follower& operator=(const TMd5Follower&) = delete;

  // Bytes [offset, offset + length) are in place; pieces may overlap.
  void Written(int64_t offset, int64_t length);
  // Waits up to `timeoutMs` for every byte to be hashed (true) or a read to
  // fail (false, Failed()).
  bool WaitHashed(uint32_t timeoutMs);
  bool Failed() const;
  // Ends the thread; the digest is then unfinished.
  void Stop();
  // After WaitHashed was true: 32 lowercase hexadecimal digits.
  std::string FinalHex();

private:
  void Run();

  const int64_t FSize;
  const TRead FRead;
  const TAlso FAlso;
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::map<int64_t, int64_t> FPieces;  // start -> end, merged; FPrefix is the end of the one at 0
  int64_t FPrefix = 0;
  int64_t FHashed = 0;
  bool FStopping = false;
  bool FFailed = false;
  std::vector<char> FBuffers[2];
  TMd5Behind FMd5;  // after the buffers: it lets go of them before they go
  std::thread FThread;
};
