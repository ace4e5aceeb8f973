#include "update/run/ProgressScale.h"

#include <gtest/gtest.h>

TEST(ProgressScale, PairsBeyond31BitsKeepTheirRatio) {
  const TProgressPair small = ScaleProgress(1000, 4000);
  EXPECT_EQ(small.position, 1000u);
  EXPECT_EQ(small.maximum, 4000u);
  for (const int64_t total : {int64_t(INT32_MAX) + 1, int64_t(5000000000), int64_t(1) << 42}) {
    const TProgressPair pair = ScaleProgress(total / 4 * 3, total);
    EXPECT_LE(pair.maximum, static_cast<uint32_t>(INT32_MAX)) << total;
    EXPECT_NEAR(static_cast<double>(pair.position) / pair.maximum, 0.75, 1e-6) << total;
  }
  const TProgressPair full = ScaleProgress(5000000000, 5000000000);
  EXPECT_EQ(full.position, full.maximum);
  EXPECT_EQ(ScaleProgress(-5, 10).position, 0u);
}
