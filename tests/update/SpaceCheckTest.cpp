#include "update/run/SpaceCheck.h"

#include <gtest/gtest.h>

// The peak is the largest moment of the run: files written so far plus the
// temporary copy of the one being written, a freed old file counting back.
TEST(SpaceCheck, PeakOfTheRunInItsOrder) {
  struct TCase {
    const char* name;
    std::vector<TSpaceItem> items;
    int64_t peak;
  };
  const TCase cases[] = {
      {"nothing", {}, 0},
      {"new files add up", {{100, 0, false}, {50, 0, false}}, 150},
      {"a replaced file needs its copy beside the old", {{100, 100, false}}, 100},
      {"a smaller file first frees room for the next", {{10, 100, false}, {150, 0, false}}, 60},
      {"the large file first, then a copy beside", {{1000, 0, false}, {100, 100, false}}, 1100},
      {"a zipped entry keeps its archive while it unpacks", {{30, 0, true}}, 60},
      {"an unpacked size taken from the old file", {{30, 200, true}}, 230},
      {"negative sizes count as none", {{-5, -1, false}}, 0},
  };
  for (const TCase& test : cases) EXPECT_EQ(PeakSpaceNeeded(test.items), test.peak) << test.name;
  EXPECT_EQ(FormatByteSize(13000000), "12.4 MB");
  EXPECT_EQ(FormatByteSize(1000), "1 KB");
}
