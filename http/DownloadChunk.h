// TDownLoadChunk: the byte ranges of a download still to fetch, shared by
// its workers, and their record in the ".!dl" resume file.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct TByteRange {
  int64_t start = 0;
  int64_t end = 0;  // inclusive
  int64_t Length() const { return end - start + 1; }
};

class TDownLoadChunk {
public:
  static constexpr int64_t MinRangeSize = 0x40000;  // halving stops before this

  // `resumePath` is the ".!dl" file that keeps the ranges across runs; empty
  // when the list keeps no file of its own.
  explicit TDownLoadChunk(std::string resumePath);
  // Writes the pending ranges to the resume file, or deletes the file when
  // none remain, so a cancelled download resumes where it stopped.
  ~TDownLoadChunk();
  // From now on the list leaves the resume file alone (the download keeps
  // it through its record of the bytes written).
  void DetachResumeFile() { FResumePath.clear(); }
  TDownLoadChunk(const TDownLoadChunk&) = delete;
  TDownLoadChunk& operator=(const TDownLoadChunk&) = delete;

  void Add(int64_t start, int64_t end);
  // Removes the range with the lowest start (the last of the list) and
  // returns it; false when none is left.
  bool Take(TByteRange& range);
  size_t Count() const;
  int64_t PendingBytes() const;
  std::vector<TByteRange> Ranges() const;

  // Halves ranges until there are enough for `workers` (2 per worker when
  // more than one), never below MinRangeSize, then orders them so the
  // lowest start is handed out first.
  void Split(int workers);
  // Loads section "Chunks" of the resume file (keys Chunk000, Chunk001, ...
  // up to the first missing one). A range reaching past the file is cut to
  // it and one wholly outside is dropped. Returns the count loaded, or -1
  // when an entry is damaged (no start, not a number, reversed): the file
  // then cannot say what is missing and nothing is kept.
  int LoadFromResume(int64_t fileSize);

private:
  void Save();

  mutable std::mutex FLock;
  std::vector<TByteRange> FRanges;
  int64_t FPending = 0;
  std::string FResumePath;
};
