// MD5 of a stream taken on a thread of its own, one block behind the
// caller: while the caller reads and writes the next block, the last one is
// hashed. MD5 is serial and slower than a copy in the page cache, so a copy
// that hashes on its own thread takes about the time of the hash alone.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

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
