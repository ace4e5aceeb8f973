// The way each file of a run travels, decided from what is known before
// anything is fetched. Pure: the run asks, the transports act.
#pragma once
#include <cstdint>

enum class TFileWay : int {
  Batch,        // one GET among many over the kept connections of the many-file batch
  Ranges,       // the download engine, in ranges over several connections
  Chunks,       // rebuilt from the older copy and the chunk index (whole by Ranges when that cannot be)
  FullPackage,  // comes with the full package; what it leaves wrong is planned again
  NotFetched,   // the run's plan fetches nothing: the file stays wrong
};

struct TFileFacts {
  int RunPlan = 1;        // "UpdateNow" as the run goes on: 1 files, 2 full package first
  int64_t Size = 0;       // of what travels (a zipped entry's archive counts as its file)
  bool IsZip = false;     // the archive travels and its entry is unpacked
  bool IsLauncher = false;
  bool HasChunkIndex = false;
  bool BatchOpen = false;  // the run may use the many-file batch
  int64_t BatchSizeLimit = 0;
};

struct TFilePlan {
  TFileWay Way = TFileWay::NotFetched;
  bool Unpack = false;  // an archive's entry is unpacked once it is here
};

TFilePlan PlanFile(const TFileFacts& facts);
