// The compare's own machinery: digests queued ahead on helper threads,
// LoadState's look at each file serving the compare that follows it, and the
// state file read and written a chunk at a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Md5.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "support/TestSupport.h"
#include "update/manifest/DigestAhead.h"
#include "update/run/uLaunchThread.h"

namespace {

constexpr uint32_t June15 = 1053777920;

std::string Entry(const std::string& file, const std::string& hash, int size) {
  return "{\"File\":\"" + file + "\",\"isLauncher\":0,\"Need\":true,\"Hash\":\"" + hash +
         "\",\"Size\":" + std::to_string(size) + ",\"IsZip\":false}";
}

void Put(const TTempFolder& folder, const std::string& name, const std::string& bytes) {
  WriteWholeFile(folder / name, bytes);
  SetFileDosDateTime(folder / name, June15);
}

}  // namespace

TEST(DigestAhead, ResultsComeInQueueOrderOnAnyNumberOfThreads) {
  TTempFolder folder;
  std::vector<std::string> paths;
  for (int i = 0; i < 60; ++i) {
    paths.push_back(folder / ("f" + std::to_string(i)));
    if (i % 7 == 3) continue;  // missing
    WriteWholeFile(paths.back(), std::string(static_cast<size_t>(i * 1000), static_cast<char>('a' + i % 26)));
  }
  ForceDirectories(folder / "folder");
  paths.push_back(folder / "folder");
  for (unsigned threads : {1u, 2u, 4u}) {
    TDigestAhead digests(threads);
    std::vector<uint64_t> tickets;
    for (const std::string& path : paths) tickets.push_back(digests.Add(path));
    for (size_t i = 0; i < paths.size(); ++i) {
      const TDigestResult result = digests.Take(tickets[i]);
      ASSERT_TRUE(result.done) << i;
      EXPECT_EQ(result.check.isFile, FileExists(paths[i])) << i;
      EXPECT_EQ(result.digest, result.check.isFile ? MD5OfFile(paths[i]) : std::string()) << i;
    }
    EXPECT_EQ(digests.Pending(), 0u);
    // A ticket out of turn gives nothing; the caller digests itself.
    const uint64_t first = digests.Add(paths[0]);
    digests.Add(paths[1]);
    EXPECT_FALSE(digests.Take(first + 1).done);
    EXPECT_TRUE(digests.Take(first).done);
  }  // destroyed with a job still queued: no hang
}

TEST(CompareFiles, LoadStatesLookServesOnlyTheCompareRightAfterIt) {
  TTempFolder folder;
  TUpdateFiles files(folder.Path(), "launcher", StateFileName(0), ClientManifestName);
  ForceDirectories(folder / "data");
  Put(folder, "a.dat", "a");
  Put(folder, "b.dat", "b");
  WriteWholeFile(folder / "data/update.json", "[" + Entry("a.dat", MD5OfMemory("a"), 1) + "," +
                                                  Entry("b.dat", MD5OfMemory("b"), 1) + "]");
  WriteWholeFile(folder / "data/update0.local", "a.dat=" + MD5OfMemory("a") + "-" + std::to_string(June15) +
                                                    "\r\nb.dat=" + MD5OfMemory("b") + "-" + std::to_string(June15) +
                                                    "\r\n");
  ASSERT_TRUE(files.LoadManifest());
  TDownloadList list;
  auto compare = [&] {
    list.clear();
    files.CompareFiles(list);
    std::vector<std::string> names;
    for (const TDownloadItem& item : list) names.push_back(item.File);
    return names;
  };
  files.LoadState();
  EXPECT_TRUE(compare().empty());
  // A later compare looks at the disk again.
  DeleteFileAt(folder / "a.dat");
  EXPECT_EQ(compare(), std::vector<std::string>{"a.dat"});
  // So does the compare after the disk changed behind LoadState's back
  // (the full package unpacked in between).
  Put(folder, "a.dat", "a");
  files.LoadState();
  DeleteFileAt(folder / "b.dat");
  files.DiskChanged();
  EXPECT_EQ(compare(), std::vector<std::string>{"b.dat"});
  // And the compare after a verification.
  Put(folder, "b.dat", "b");
  files.LoadState();
  DeleteFileAt(folder / "a.dat");
  EXPECT_TRUE(files.VerifyFile("b.dat", MD5OfMemory("b")));
  EXPECT_EQ(compare(), std::vector<std::string>{"a.dat"});
}

TEST(CompareFiles, CancelWhileDigestsAreQueuedStopsAtOnce) {
  TTempFolder folder;
  TUpdateFiles files(folder.Path(), "launcher", StateFileName(0), ClientManifestName);
  ForceDirectories(folder / "data");
  std::string manifest = "[";
  for (int i = 0; i < 300; ++i) {
    const std::string name = "f" + std::to_string(i);
    Put(folder, name, name);
    manifest += (i ? "," : "") + Entry(name, MD5OfMemory(name), 1);
  }
  WriteWholeFile(folder / "data/update.json", manifest + "]");
  ASSERT_TRUE(files.LoadManifest());
  int asked = 0;
  files.IsCancelled = [&] { return ++asked > 50; };
  TDownloadList list;
  EXPECT_EQ(files.CompareFiles(list), CompareNothingToDo);
  // The walk applied the elements before the cancel, in order, and no more.
  EXPECT_EQ(files.StateTable().Count(), 50u);
  EXPECT_NE(files.StateTable().Find("f49"), nullptr);
  EXPECT_EQ(files.StateTable().Find("f50"), nullptr);
}

TEST(LocalState, LargeStateFileReadAndWrittenInChunksRoundTrips) {
  TTempFolder folder;
  ForceDirectories(folder / "data");
  // Lines of 64 bytes after a first one of 65, so that a CR LF straddles the
  // reader's 256 KiB chunks; more than one chunk on the way out too.
  std::string text = "data\\first-name.dat=" + std::string(32, 'f') + "-" + std::to_string(June15) + "\r\n";
  ASSERT_EQ(text.size(), 65u);
  for (int i = 0; i < 9000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "data\\n%08d.dat", i);
    text += std::string(name) + "=" + std::string(32, static_cast<char>('a' + i % 6)) + "-1234567890\r\n";
  }
  ASSERT_EQ(text.size(), 65u + 9000u * 64u);
  WriteWholeFile(folder / "data/update0.local", text);
  TUpdateFiles files(folder.Path(), "launcher", StateFileName(0), ClientManifestName);
  files.LoadState();
  ASSERT_EQ(files.StateTable().Count(), 9001u);
  EXPECT_EQ(files.StateTable().Find("data\\n00004094.dat")->digest, std::string(32, 'a' + 4094 % 6));
  EXPECT_EQ(files.StateTable().Find("data\\n00004094.dat")->time, 1234567890);
  files.SaveState();
  EXPECT_EQ(ReadWholeFile(folder / "data/update0.local"), text);
}
