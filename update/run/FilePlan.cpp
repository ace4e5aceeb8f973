#include "update/run/FilePlan.h"

TFilePlan PlanFile(const TFileFacts& facts) {
  TFilePlan plan;
  plan.Unpack = facts.IsZip;
  if (facts.RunPlan == 2) plan.Way = TFileWay::FullPackage;
  else if (facts.RunPlan != 1) plan.Way = TFileWay::NotFetched;
  // Small files go many at once, whatever else they have.
  else if (facts.BatchOpen && facts.Size >= 0 && facts.Size < facts.BatchSizeLimit) plan.Way = TFileWay::Batch;
  // The launcher's own file and archives always come whole.
  else if (facts.HasChunkIndex && !facts.IsZip && !facts.IsLauncher && facts.Size > 0) plan.Way = TFileWay::Chunks;
  else plan.Way = TFileWay::Ranges;
  return plan;
}
