// The many-file batch against a server that misbehaves on purpose.
#include "http/HttpBatch.h"

#include <gtest/gtest.h>

#include "http/DownloadPattern.h"
#include "platform/File.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

// A server that drips its answer's header a byte every 0.1 s is never
// silent for long: the file fails at its deadline, not when the drip would
// end (10 minutes), and nothing is placed.
TEST(HttpBatch, AHeaderDripEndsAtTheFileDeadline) {
  TBatchOptions options;
  options.FileDeadlineMs = 1500;
  THttpBatch batch(1, options);
  TTempFolder folder;
  TBatchJob job;
  job.Url = FaultServerUrl() + "/batch/driphead/f02.bin";
  job.TargetPath = folder / "f02.bin";
  job.ExpectedSize = 16384;
  const uint32_t start = GetTickCount32();
  const int id = batch.Add(job);
  TBatchResult result;
  while ((result = batch.Wait(id, 100)).Outcome == TBatchOutcome::Pending && GetTickCount32() - start < 120000) {
  }
  EXPECT_EQ(result.Outcome, TBatchOutcome::Failed) << result.ErrorText;
  EXPECT_LT(GetTickCount32() - start, 30000u);
  EXPECT_FALSE(FileExists(folder / "f02.bin"));
  EXPECT_FALSE(FileExists(folder / "f02.bin.!tmp"));
}
