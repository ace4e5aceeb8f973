#include "ui/logic/MainPositions.h"

#include <gtest/gtest.h>

#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "support/TestSupport.h"
#include "ui/logic/MainFormLayout.h"

namespace {

// The form bounds of every control, plus the news browser at the origin.
std::map<std::string, TRectI> FormBounds() {
  std::map<std::string, TRectI> bounds;
  for (const TControlDefaults& control : MainFormControls()) bounds[control.Name] = control.Bounds;
  bounds["wb"] = {};
  return bounds;
}

// A program file whose positions block holds `entries` (header included).
struct TPositionsPackage {
  TTempFolder folder;
  std::string path;
  TPackageLocations locations;

  explicit TPositionsPackage(const std::vector<int16_t>& entries) {
    TPackageContent content;
    content.configText = "1 0 0 12 n a b c d e f g";
    content.images = {"x"};
    content.positions = entries;
    const std::string exe = "MZ" + std::string(510, '\0');
    path = folder / "launcher.exe";
    WriteWholeFile(path, exe + BuildPackage(content, static_cast<int64_t>(exe.size())));
    TLauncherConfig config;
    ReadPackage(path, "launcher", config, locations);
  }

  std::map<std::string, TRectI> Apply(int32_t* endCursor = nullptr) const {
    std::map<std::string, TRectI> bounds = FormBounds();
    const int32_t end = ApplyPositionRecords(
        locations.posoffset,
        [&](const std::string& label, int32_t& cursor) { return ReadPosEntryFrom(path, locations, label, cursor); },
        bounds);
    if (endCursor) *endCursor = end;
    return bounds;
  }
};

// Header entries 0..3, then entry 4 + k carries 1000 + k (k = 0..79).
std::vector<int16_t> NumberedEntries(size_t count) {
  std::vector<int16_t> entries = {-1, -1, -1, -1};
  for (size_t k = 0; entries.size() < count; ++k) entries.push_back(static_cast<int16_t>(1000 + k));
  return entries;
}

void ExpectRect(const TRectI& rect, int x, int y, int w, int h) {
  EXPECT_EQ(rect.X, x);
  EXPECT_EQ(rect.Y, y);
  EXPECT_EQ(rect.Width, w);
  EXPECT_EQ(rect.Height, h);
}

}  // namespace

TEST(MainPositions, RecordsPlaceTheirControlsAndSkippedSizesKeepTheForm) {
  TPositionsPackage package(NumberedEntries(84));
  ASSERT_NE(package.locations.posoffset, 0);
  int32_t end = 0;
  const auto bounds = package.Apply(&end);
  EXPECT_EQ(end, package.locations.posoffset + 168);
  ExpectRect(bounds.at("picSlogan"), 1000, 1001, 1002, 1003);
  ExpectRect(bounds.at("wb"), 1004, 1005, 1006, 1007);
  // lbMember reads its place and keeps 249 x 22; the next record starts
  // after the four skipped bytes.
  ExpectRect(bounds.at("lbMember"), 1020, 1021, 249, 22);
  ExpectRect(bounds.at("btnSelServer"), 1024, 1025, 1026, 1027);
  ExpectRect(bounds.at("lbCurSelSrv"), 1028, 1029, 249, 22);
  ExpectRect(bounds.at("lbIngUpdate"), 1052, 1053, 95, 18);
  ExpectRect(bounds.at("LGClose"), 1056, 1057, 1058, 1059);
  ExpectRect(bounds.at("LGBtn4"), 1076, 1077, 1078, 1079);
  // Controls that no record names keep their form bounds.
  ExpectRect(bounds.at("LGBtn5"), 384, 48, 60, 20);
}

TEST(MainPositions, EntriesAreSignedAndLoggedUnderTheirLabels) {
  std::vector<int16_t> entries(84, 5);
  entries[4] = -20;      // picSlogan X
  entries[30] = -32768;  // btnSelServer W, logged as "CurSelSrv W"
  TPositionsPackage package(entries);
  TLogCapture capture;
  const auto bounds = package.Apply();
  EXPECT_EQ(bounds.at("picSlogan").X, -20);
  EXPECT_EQ(bounds.at("btnSelServer").Width, -32768);
  EXPECT_TRUE(capture.Contains("load img pos CurSelSrv W end, result=-32768"));
  EXPECT_TRUE(capture.Contains("load img pos LBStatus H end, result=5"));
  EXPECT_TRUE(capture.Contains("load img pos lbIngUpdate H end, result=5"));
}

TEST(MainPositions, AShortOrMissingBlockKeepsTheFormDefaults) {
  // 4 header entries and the first 6 records' 22 entries (lbMember's skip
  // included): the block ends before btnSelServer.
  TPositionsPackage shortPackage(NumberedEntries(26));
  ASSERT_NE(shortPackage.locations.posoffset, 0);
  auto bounds = shortPackage.Apply();
  ExpectRect(bounds.at("lbMember"), 1020, 1021, 249, 22);
  ExpectRect(bounds.at("btnSelServer"), 905, 356, 35, 40);
  ExpectRect(bounds.at("LGClose"), 687, 24, 39, 20);

  // No positions block at all: every read is out of range, nothing moves.
  TLogCapture capture;
  std::map<std::string, TRectI> untouched = FormBounds();
  TPackageLocations none;
  ApplyPositionRecords(
      0, [&](const std::string& label, int32_t& cursor) { return ReadPosEntryFrom(shortPackage.path, none, label, cursor); },
      untouched);
  for (const auto& [name, rect] : FormBounds()) {
    EXPECT_EQ(untouched.at(name).X, rect.X) << name;
    EXPECT_EQ(untouched.at(name).Height, rect.Height) << name;
  }
  EXPECT_TRUE(capture.Contains("load img pos picSlogan X error, offset=8, posend=0"));
}
