#include "update/archive/ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "common/Md5.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "support/TestSupport.h"
#include "update/archive/ZipDirectory.h"
#include "update/archive/ZipExtract.h"

namespace {

constexpr uint32_t June15 = 1053777920;

std::string RandomBytes(size_t size) {
  std::mt19937 random(11);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TZipDirectory ReadDirectory(const std::string& path) {
  TZipFileSource source(path);
  TZipDirectory directory;
  std::string error;
  EXPECT_TRUE(ReadZipDirectory(source, directory, error)) << error;
  return directory;
}

}  // namespace

TEST(ZipWriter, RoundTripChoosesDeflateOrStoredPerEntry) {
  TTempFolder temp;
  const std::string text(100000, 'z');
  const std::string noise = RandomBytes(70000);
  const std::string wide = Utf8ToCp936("\xE6\x95\xB0\xE6\x8D\xAE/\xE5\x9C\xB0\xE5\x9B\xBE.txt");
  {
    TZipWriter writer(temp / "out.zip");
    writer.AddBytes("text.txt", text, June15);
    writer.AddBytes("folder/noise.bin", noise, June15);
    writer.AddBytes("empty.dat", "", June15);
    writer.AddBytes(wide, "wide", June15);
    const int64_t size = writer.Finish();
    EXPECT_EQ(size, GetFileSize(temp / "out.zip"));
  }
  const TZipDirectory directory = ReadDirectory(temp / "out.zip");
  ASSERT_EQ(directory.Entries.size(), 4u);
  EXPECT_EQ(directory.Entries[0].Method, 8);
  EXPECT_LT(directory.Entries[0].CompressedSize, 1000u);
  EXPECT_EQ(directory.Entries[1].Method, 0);  // deflate would not make it smaller
  EXPECT_EQ(directory.Entries[1].CompressedSize, noise.size());
  EXPECT_EQ(directory.Entries[2].UncompressedSize, 0u);
  EXPECT_EQ(directory.Entries[3].Name, wide);  // stored as UTF-8, read back in code page 936
  EXPECT_EQ(directory.Entries[0].DosDateTime, June15);
  TZipExtractor extractor;
  extractor.Options.DestDir = temp / "x";
  extractor.Options.RecreateDirs = true;
  EXPECT_EQ(extractor.Extract(temp / "out.zip"), 4);
  EXPECT_EQ(ReadWholeFile(temp / "x/text.txt"), text);
  EXPECT_EQ(ReadWholeFile(temp / "x/folder/noise.bin"), noise);
  EXPECT_EQ(ReadWholeFile(temp / "x/empty.dat"), "");
  EXPECT_EQ(ReadWholeFile(temp / ("x/" + wide)), "wide");
}

TEST(ZipWriter, EntryCountBeyondSixteenBitsUsesZip64EndRecords) {
  TTempFolder temp;
  {
    TZipWriter writer(temp / "many.zip");
    for (int i = 0; i < 65600; ++i) writer.AddBytes(std::string("e").append(std::to_string(i)), "", June15);
    writer.Finish();
  }
  const TZipDirectory directory = ReadDirectory(temp / "many.zip");
  ASSERT_EQ(directory.Entries.size(), 65600u);
  EXPECT_EQ(directory.Entries.back().Name, "e65599");
}

// An entry past 4 GiB (zeros from memory, so no disk is involved): ZIP64
// sizes in the local and central headers; the entry inflates to its size and
// CRC, and the entry after it is found and extracted.
TEST(ZipWriter, EntryLargerThanFourGibibytes) {
  TTempFolder temp;
  const uint64_t size = (uint64_t(1) << 32) + 12345;
  {
    TZipWriter writer(temp / "big.zip", 1);
    uint64_t left = size;
    writer.AddStream(
        "big.bin", size, June15,
        [&](uint8_t* buffer, size_t count) {
          const size_t n = static_cast<size_t>(std::min<uint64_t>(count, left));
          std::memset(buffer, 0, n);
          left -= n;
          return n;
        },
        [&] { left = size; });
    writer.AddBytes("after.txt", "after", June15);
    writer.Finish();
  }
  const TZipDirectory directory = ReadDirectory(temp / "big.zip");
  ASSERT_EQ(directory.Entries.size(), 2u);
  EXPECT_EQ(directory.Entries[0].UncompressedSize, size);
  EXPECT_EQ(directory.Entries[0].Method, 8);
  std::string error;
  EXPECT_TRUE(TestZipArchive(temp / "big.zip", error)) << error;
  TZipExtractor extractor;
  extractor.Options.DestDir = temp.Path();
  extractor.Hooks.OnStartEntry = [](int index, const std::string&, int, bool& skip) { skip = index == 0; };
  EXPECT_EQ(extractor.Extract(temp / "big.zip"), 1);
  EXPECT_EQ(ReadWholeFile(temp / "after.txt"), "after");
}

// Bytes put before an archive (a self-extracting stub) shift every offset;
// the directory still leads to each entry.
TEST(ZipWriter, BytesBeforeTheArchiveAreSteppedOver) {
  TTempFolder temp;
  {
    TZipWriter writer(temp / "plain.zip");
    writer.AddBytes("one.txt", std::string(3000, '1'), June15);
    writer.AddBytes("two.txt", "two", June15);
    writer.Finish();
  }
  WriteWholeFile(temp / "stub.zip", std::string(777, 'S') + ReadWholeFile(temp / "plain.zip"));
  TZipExtractor extractor;
  extractor.Options.DestDir = temp / "out";
  EXPECT_EQ(extractor.Extract(temp / "stub.zip"), 2);
  EXPECT_EQ(ReadWholeFile(temp / "out/one.txt"), std::string(3000, '1'));
  EXPECT_EQ(ReadWholeFile(temp / "out/two.txt"), "two");
}

// --- other readers ----------------------------------------------------------
// Archives of the writer must open in the readers players and operators use,
// not only in our own: Info-ZIP's unzip, 7-Zip and Python's zipfile test
// every entry (CRC and sizes), ZIP64 records included.

namespace {

// Runs a shell command; its output goes to `log`. 0 when it succeeded.
int RunShell(const std::string& command, const std::string& log) {
  return std::system((command + " >\"" + log + "\" 2>&1").c_str());
}

bool HaveReaders() {
  return std::system("unzip -v >/dev/null 2>&1") == 0 && std::system("7z i >/dev/null 2>&1") == 0 &&
         std::system("python3 -c 'import zipfile' >/dev/null 2>&1") == 0;
}

void ExpectEveryReaderAccepts(const std::string& archive, const TTempFolder& temp) {
  const std::string log = temp / "reader.log";
  EXPECT_EQ(RunShell("unzip -tqq '" + archive + "'", log), 0) << ReadWholeFile(log);
  EXPECT_EQ(RunShell("7z t -bd '" + archive + "'", log), 0) << ReadWholeFile(log);
  const std::string python =
      "python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); bad = z.testzip(); "
      "sys.exit(1 if bad else 0)\" '" + archive + "'";
  EXPECT_EQ(RunShell(python, log), 0) << ReadWholeFile(log);
}

}  // namespace

TEST(ZipWriter, OtherReadersAcceptEveryKindOfArchive) {
  if (!HaveReaders()) GTEST_SKIP() << "unzip, 7z or python3 is not installed (or no shell runs them here)";
  TTempFolder temp;
  {
    TZipWriter writer(temp / "mixed.zip");
    writer.AddBytes("text.txt", std::string(100000, 'z'), June15);
    writer.AddBytes("folder/noise.bin", RandomBytes(70000), June15);
    writer.AddBytes("empty.dat", "", June15);
    writer.AddBytes(Utf8ToCp936("\xE6\x95\xB0\xE6\x8D\xAE/\xE5\x9C\xB0\xE5\x9B\xBE.txt"), "wide", June15);
    writer.Finish();
  }
  ExpectEveryReaderAccepts(temp / "mixed.zip", temp);
  {
    TZipWriter writer(temp / "many.zip");
    for (int i = 0; i < 65600; ++i) writer.AddBytes("e" + std::to_string(i), std::to_string(i), June15);
    writer.Finish();
  }
  ExpectEveryReaderAccepts(temp / "many.zip", temp);
  const std::string log = temp / "list.log";
  ASSERT_EQ(RunShell("unzip -Z1 '" + (temp / "many.zip") + "' | wc -l", log), 0);
  EXPECT_EQ(std::atoi(ReadWholeFile(log).c_str()), 65600);
}

// 4 GiB of zeros deflate to a few MiB: the archive stays small on disk while
// its entry needs ZIP64 sizes.
TEST(ZipWriter, OtherReadersAcceptAnEntryLargerThanFourGibibytes) {
  if (!HaveReaders()) GTEST_SKIP() << "unzip, 7z or python3 is not installed (or no shell runs them here)";
  TTempFolder temp;
  const uint64_t size = (uint64_t(1) << 32) + 12345;
  {
    TZipWriter writer(temp / "big.zip", 1);
    uint64_t left = size;
    writer.AddStream(
        "big.bin", size, June15,
        [&](uint8_t* buffer, size_t count) {
          const size_t n = static_cast<size_t>(std::min<uint64_t>(count, left));
          std::memset(buffer, 0, n);
          left -= n;
          return n;
        },
        [&] { left = size; });
    writer.AddBytes("after.txt", "after", June15);
    writer.Finish();
  }
  ExpectEveryReaderAccepts(temp / "big.zip", temp);
}
