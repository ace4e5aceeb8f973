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

  // Takes the block (it is left empty) into the queue at `position`; waits
  // while the queue is full. False, and the block untouched, when the writer
  // is closing or has failed.
  bool Queue(int64_t position, std::vector<char>&& block);
  // The same with a copy of the bytes.
  bool Queue(int64_t position, const void* data, size_t length);
  // The storage of a written block, emptied, to be filled and queued again
  // (an empty vector when none is spare): the network threads then reuse
  // the same memory instead of faulting in fresh pages for every block.
  std::vector<char> Spare();
  // Writes what is queued, then flushes the file to the disk.
  void Drain();
  // Takes no further block, ends the writer thread (so every written or
  // error report has been made when it returns) and writes what is still
  // queued, without forcing it to the disk. Holders of other references
  // then only see Queue refuse.
  void Close();
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
  // Written blocks' storage, at most half the queue limit of it.
  std::vector<std::vector<char>> FSpares;
  size_t FSpareBytes = 0;
  bool FWriting = false;
  bool FClosing = false;
  bool FFailed = false;
};
