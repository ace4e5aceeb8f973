#include "ui/logic/ImagePlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "package/SkinLayout.h"
#include "support/TestSupport.h"

namespace {

// A program file with a package whose skin block holds `count` images; image
// i is the text "image <i>" so that every read can be traced to its record.
struct TSkinPackage {
  TTempFolder folder;
  std::string path;
  TPackageLocations locations;

  explicit TSkinPackage(size_t count) {
    TPackageContent content;
    content.configText = "1 0 0 12 n a b c d e f g";
    for (size_t i = 0; i < count; ++i) content.images.push_back("image " + std::to_string(i));
    content.positions.assign(84, 0);
    const std::string exe = "MZ" + std::string(510, '\0');
    path = folder / "launcher.exe";
    WriteWholeFile(path, exe + BuildPackage(content, static_cast<int64_t>(exe.size())));
    TLauncherConfig config;
    ReadPackage(path, "launcher", config, locations);
  }

  // Runs the plan with the real record reader; returns what each step read.
  std::vector<std::string> Run(size_t& bound) const {
    std::vector<std::string> read;
    bound = RunImagePlan(locations.resoffset, [&](const TImageStep& step, int32_t& cursor) {
      auto bytes = ReadSkinImageFrom(path, locations, step.Label, cursor);
      if (!bytes) return false;
      read.emplace_back(bytes->begin(), bytes->end());
      return true;
    });
    return read;
  }
};

size_t StoredIndex(const std::string& label) {
  const auto& names = SkinImageNames();
  return static_cast<size_t>(std::find(names.begin(), names.end(), label) - names.begin());
}

}  // namespace

// Every step, the repeated ones through the second cursor included, reads the
// stored image that carries its log name in the block order of the package.
TEST(ImagePlan, EveryStepReadsTheImageOfItsName) {
  TSkinPackage package(SkinImageNames().size());
  ASSERT_NE(package.locations.resoffset, 0);
  size_t bound = 0;
  const std::vector<std::string> read = package.Run(bound);
  const auto& plan = ImageBindingPlan();
  ASSERT_EQ(plan.size(), 38u);
  EXPECT_EQ(bound, 38u);
  ASSERT_EQ(read.size(), plan.size());
  for (size_t i = 0; i < plan.size(); ++i) {
    ASSERT_LT(StoredIndex(plan[i].Label), SkinImageNames().size()) << plan[i].Label;
    EXPECT_EQ(read[i], "image " + std::to_string(StoredIndex(plan[i].Label))) << "step " << i + 1;
  }
}

// Each control state, picture and bar part is bound exactly once, so no
// binding replaces an earlier one.
TEST(ImagePlan, NoTargetIsBoundTwice) {
  std::map<std::string, int> seen;
  for (const TImageStep& step : ImageBindingPlan()) {
    std::string key = std::to_string(static_cast<int>(step.Target)) + "/" + step.Control;
    if (step.Target == TImageTarget::ButtonState) key += "/" + std::to_string(step.State);
    EXPECT_EQ(++seen[key], 1) << step.Label << " " << step.Control;
  }
  // Only the start button has a disable image.
  for (const TImageStep& step : ImageBindingPlan()) {
    if (step.Target == TImageTarget::ButtonState && step.State == lgsDisable) {
      EXPECT_STREQ(step.Control, "LGStart");
    }
  }
}

TEST(ImagePlan, ThirteenImagesBindSixteenStepsAndStopAtTheServerRows) {
  TSkinPackage package(13);
  TLogCapture capture;
  size_t bound = 0;
  const std::vector<std::string> read = package.Run(bound);
  EXPECT_EQ(bound, 16u);
  ASSERT_EQ(read.size(), 16u);
  EXPECT_EQ(read[7], read[6]);    // btnSelMem reads cb_normal again
  EXPECT_EQ(read[14], read[12]);  // LGCurrent background: Progress_bk again
  EXPECT_EQ(read[15], read[13]);  // LGCurrent fill: Progress_all again
  EXPECT_EQ(read[15], "image 12");
  // The failed step is the server row image; nothing after it is read.
  EXPECT_TRUE(capture.Contains("load img server_bk_active beginning"));
  EXPECT_FALSE(capture.Contains("load img server_bk_normal beginning"));
}

TEST(ImagePlan, NoSkinBlockBindsNothingAndAFailedStepEndsTheRun) {
  int calls = 0;
  EXPECT_EQ(RunImagePlan(0, [&](const TImageStep&, int32_t&) { return ++calls > 0; }), 0u);
  EXPECT_EQ(calls, 0);

  // A damaged fifth image: steps 1..4 stay bound, the binder sees no step after it.
  std::vector<std::string> labels;
  const size_t bound = RunImagePlan(1000, [&](const TImageStep& step, int32_t& cursor) {
    labels.push_back(step.Label);
    cursor += 10;
    return labels.size() != 5;
  });
  EXPECT_EQ(bound, 4u);
  EXPECT_EQ(labels.size(), 5u);
  EXPECT_EQ(labels.back(), "btn_start_normal");
}
