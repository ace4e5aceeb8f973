// TBGFileStream: the background writer of a download. Workers queue blocks
// with their file offsets; the writer thread puts them into the file in
// ascending offset order, off the network threads.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/Thread.h"

class TBGFileStream : public TThread {
public:
  // Queued bytes beyond which Queue waits for the writer: memory stays
  // bounded when the disk is slower than the network.
  static constexpr size_t DefaultQueueLimit = 16 * 1024 * 1024;

  // Opens (or creates, never truncating) the file; throws EFileError.
  explicit TBGFileStream(const std::string& path, size_t queueLimit = DefaultQueueLimit);
  // Writes every queued block, then closes the file (without forcing it to
  // the disk: Drain does that where it matters).
  ~TBGFileStream() override;

  // Called on the writer thread with the position and length of each block
  // written.
  std::function<void(int64_t position, int64_t length)> OnWritten;
  // Called on the writer thread, once, when a block cannot be written (a full
  // disk, a lost device). The writer then takes no further block: a file
  // with a gap must not go on as if it were whole.
  std::function<void(int64_t position, const std::string& reason)> OnWriteError;

  // Copies the block into the queue; waits while the queue is full. False
  // when the writer is closing or has failed.
  bool Queue(int64_t position, const void* data, size_t length);
  // Writes what is queued, then flushes the file to the disk.
  void Drain();
  size_t QueuedBytes() const;
  bool Failed() const;

protected:
  void Execute() override;
  void TerminatedSet() override;
  std::string ThreadName() const override { return "TBGFileStream"; }

private:
  bool WriteNext();

  TFileStream FFile;
  const size_t FQueueLimit;
  mutable std::mutex FLock;
  std::condition_variable FQueued;   // a block arrived, or closing
  std::condition_variable FWritten;  // room in the queue, or the queue ran empty
  // Ordered by position; equal positions keep their order of arrival.
  std::multimap<int64_t, std::vector<char>> FBlocks;
  size_t FQueuedBytes = 0;
  bool FWriting = false;
  bool FClosing = false;
  bool FFailed = false;
};
