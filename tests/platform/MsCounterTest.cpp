#include "platform/MsCounter.h"

#include <gtest/gtest.h>

#include "platform/Tick.h"

TEST(MsCounter, CountsMillisecondsAndWrapsAround) {
  const uint32_t before = MsCounter();
  const uint32_t tick = GetTickCount32();
  SleepMs(200);
  const uint32_t elapsed = GetTickCount32() - tick;
  const uint32_t counted = MsCounter() - before;
  // The two clocks tick apart by their granularity and by whatever the
  // scheduler does between the reads (Wine and the sanitizers add much).
  EXPECT_GE(counted + 250, elapsed);
  EXPECT_LE(counted, elapsed + 250);
  EXPECT_GE(counted, 150u);
  const uint32_t at = MsCounter();
  AdvanceMsCounter(0xFFFFFFFFu);  // one step back, through the wrap-around
  EXPECT_LT(MsCounter() - at + 1, 1000u);
}
