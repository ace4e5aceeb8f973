// TResumeRecord: which bytes of a download's temporary file are on the disk,
// and the ".!dl" resume file that says so. The writer reports each block it
// has written; only those bytes count as done. A checkpoint writes the whole
// resume file (section "Setup" and the missing ranges in section "Chunks")
// beside it and renames it over the old one, so a process killed at any
// moment leaves either the previous record or the new one, never half of it.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "http/DownloadChunk.h"

class TResumeRecord {
public:
  // The resume file holds at most this many ranges (keys Chunk000 to ChunkFFF).
  static constexpr size_t MaxRanges = 0xFFF;

  TResumeRecord(std::string path, int64_t totalSize, std::string url, std::string lastModified);

  // Every byte outside `missing` is already on the disk (a resumed download).
  void SetMissing(const std::vector<TByteRange>& missing);
  // A block the writer has put into the file; any thread.
  void MarkWritten(int64_t position, int64_t length);

  int64_t TotalSize() const { return FTotal; }
  int64_t WrittenBytes() const;
  bool Complete() const;
  // The byte ranges not yet on the disk, lowest first.
  std::vector<TByteRange> Missing() const;
  // Whether blocks were written since the last checkpoint.
  bool Changed() const;

  // The resume file's text: section "Setup" ("URL", "LastModified",
  // "FileSize") and section "Chunks" with the missing ranges. Beyond
  // MaxRanges the last ones are merged into one (fetched again, never lost).
  std::string Text() const;
  // Writes Text() through a temporary file and a rename. False (and the old
  // file kept) when the disk refuses, or when the path's file name is
  // reserved (IsReservedComponent), which Save and Remove never touch.
  bool Save();
  // Deletes the resume file and a temporary one left by an interrupted save.
  void Remove();
  const std::string& Path() const { return FPath; }

private:
  std::vector<TByteRange> MissingLocked() const;
  bool NamesAFile() const;

  const std::string FPath;
  const int64_t FTotal;
  const std::string FUrl;
  const std::string FLastModified;
  mutable std::mutex FLock;
  std::map<int64_t, int64_t> FDone;  // start -> end (inclusive), merged, disjoint
  int64_t FDoneBytes = 0;
  bool FChanged = false;
};
