#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/PathUtils.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/LongPath.h"
#include "platform/MappedFile.h"
#include "support/TestSupport.h"

TEST(File, ChinesePathsWithTrailByte5C) {
  TTempFolder folder;
  // The folder name's second byte is "\"; it must not split the path.
  const std::string dir = folder / "\x81\x5C\xC6\xF4";
  ASSERT_TRUE(ForceDirectories(dir + "\\sub"));
  EXPECT_TRUE(DirectoryExists(dir));
  const std::string file = dir + "\\sub\\\xB6\xAF.txt";
  WriteWholeFile(file, "hello");
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(GetFileSize(file), 5);
  EXPECT_EQ(ReadWholeFile(file), "hello");
  ASSERT_TRUE(RenameFileAt(file, dir + "\\moved.txt"));
  EXPECT_FALSE(FileExists(file));
  ASSERT_TRUE(CopyFileAt(dir + "\\moved.txt", dir + "\\copy.txt"));
  EXPECT_EQ(ReadWholeFile(dir + "\\copy.txt"), "hello");
  EXPECT_TRUE(DeleteFileAt(dir + "\\copy.txt"));
  EXPECT_EQ(GetFileSize(dir + "\\copy.txt"), -1);
}

TEST(File, StreamReadsPastTheEndAreShortAndReadBufferThrows) {
  TTempFolder folder;
  WriteWholeFile(folder / "f", "0123456789");
  TFileStream stream(folder / "f", TFileMode::ReadShared);
  char buffer[8];
  stream.Seek(6);
  EXPECT_EQ(stream.Read(buffer, 8), 4u);
  stream.Seek(-4);
  EXPECT_EQ(stream.Read(buffer, 4), 0u);
  stream.Seek(8);
  EXPECT_THROW(stream.ReadBuffer(buffer, 4), EFileError);
  EXPECT_THROW(TFileStream(folder / "absent", TFileMode::ReadShared), EFileError);
}

TEST(MappedFile, ViewsAtUnalignedOffsets) {
  TTempFolder folder;
  std::string data(MaxMappedView + 70000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  WriteWholeFile(folder / "m", data);
  TMappedFile mapped;
  ASSERT_TRUE(mapped.Open(folder / "m"));
  EXPECT_EQ(mapped.Size(), static_cast<int64_t>(data.size()));
  const uint8_t* view = mapped.MapView(12345, 1000);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view), 1000), data.substr(12345, 1000));
  EXPECT_EQ(mapped.MapView(0, MaxMappedView + 1), nullptr);
  EXPECT_EQ(mapped.MapView(static_cast<int64_t>(data.size()) - 10, 11), nullptr);
  WriteWholeFile(folder / "empty", "");
  EXPECT_FALSE(mapped.Open(folder / "empty"));
}

TEST(FileTime, DosDateTimeRoundTripsInLocalTime) {
  TTempFolder folder;
  WriteWholeFile(folder / "t", "x");
  // 2024-03-15 13:45:30 local time.
  const uint32_t dos = (uint32_t{2024 - 1980} << 25) | (3u << 21) | (15u << 16) | (13u << 11) | (45u << 5) | 15u;
  ASSERT_TRUE(SetFileDosDateTime(folder / "t", dos));
  uint32_t read = 0;
  ASSERT_TRUE(GetFileDosDateTime(folder / "t", read));
  EXPECT_EQ(read, dos);
  // A server time in seconds since 1970 lands on the same local DOS time.
  ASSERT_TRUE(SetFileUnixTime(folder / "t", 1700000000));
  ASSERT_TRUE(GetFileDosDateTime(folder / "t", read));
  const time_t when = 1700000000;
  std::tm local = *std::localtime(&when);
  EXPECT_EQ(read >> 25, static_cast<uint32_t>(local.tm_year - 80));
  EXPECT_EQ((read >> 11) & 0x1F, static_cast<uint32_t>(local.tm_hour));
  EXPECT_FALSE(GetFileDosDateTime(folder / "absent", read));
}

// A relative folder is made below the working directory and nothing else is:
// no folder named after a part of its first component.
TEST(File, RelativeFoldersCreateOnlyThemselvesAndEmptyOnesCanGo) {
  TTempFolder folder;
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(std::filesystem::path(Cp936ToUtf16(folder.Path())));
  const bool made = ForceDirectories("game/install/");
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator("."))
    names.push_back(Utf16ToCp936(item.path().filename().u16string()));
  const bool removed = RemoveEmptyDirectory("game/install") && !RemoveEmptyDirectory("missing");
  std::filesystem::current_path(before);
  EXPECT_TRUE(made);
  EXPECT_EQ(names, std::vector<std::string>{"game"});
  EXPECT_TRUE(removed);
  EXPECT_FALSE(DirectoryExists(folder / "game/install"));
  EXPECT_TRUE(DirectoryExists(folder / "game"));
  WriteWholeFile(folder / "game/keep.txt", "x");
  EXPECT_FALSE(RemoveEmptyDirectory(folder / "game"));  // not empty
}

TEST(LongPath, ExtendedLengthFormNamesTheSameFile) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"C:\\Game\\data\\a.bin", u"\\\\?\\C:\\Game\\data\\a.bin"},
      {u"c:/Game/data//a.bin", u"\\\\?\\c:\\Game\\data\\a.bin"},
      {u"C:\\Game\\.\\x\\..\\a.bin", u"\\\\?\\C:\\Game\\a.bin"},
      {u"C:\\..\\..\\a.bin", u"\\\\?\\C:\\a.bin"},
      {u"C:\\Game. \\a.bin", u"\\\\?\\C:\\Game\\a.bin"},  // Win32 drops trailing dots and blanks
      {u"C:\\", u"\\\\?\\C:\\"},
      {u"\\\\server\\share\\..\\..\\a.bin", u"\\\\?\\UNC\\server\\share\\a.bin"},
      {u"\\\\?\\C:\\Game/a.bin", u"\\\\?\\C:\\Game\\a.bin"},
      {u"Game\\a.bin", u"Game\\a.bin"},  // relative: the caller makes it full first
      {u"\\Game\\a.bin", u"\\Game\\a.bin"},
      {u"C:Game", u"C:Game"},
      {u"Z:\\\u594e\u5170 \u5fae\u7aef\\a.bin", u"\\\\?\\Z:\\\u594e\u5170 \u5fae\u7aef\\a.bin"},
  };
  for (const auto& [plain, extended] : cases)
    EXPECT_EQ(ExtendedLengthPath(plain), extended) << Utf16ToCp936(plain);
  const std::pair<std::u16string, size_t> roots[] = {
      {u"C:\\Game", 3},          {u"\\\\?\\C:\\Game", 7}, {u"\\\\server\\share\\Game", 15},
      {u"\\\\?\\UNC\\server\\share\\Game", 21}, {u"Game\\a", 0},
  };
  for (const auto& [path, length] : roots) EXPECT_EQ(WindowsRootLength(path), length) << Utf16ToCp936(path);
}

// Past 260 characters (a folder past 248) every file operation still works,
// for a full path and for one relative to the current folder.
TEST(File, PathsPast260CharactersWork) {
  TTempFolder folder;
  const std::string tree = std::string(90, 'a') + "\\" + std::string(90, 'b') + "\\" + std::string(90, 'c');
  const std::string name = tree + "\\\xB6\xAF" + std::string(40, 'd') + ".bin";
  const std::string file = folder / name;
  ASSERT_GT(file.size(), 300u);
  ASSERT_TRUE(ForceDirectories(folder / tree));
  EXPECT_TRUE(DirectoryExists(folder / tree));
  WriteWholeFile(file, "long");
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(GetFileSize(file), 4);
  EXPECT_TRUE(SetFileDosDateTime(file, 0x4A6F6000));
  uint32_t time = 0;
  EXPECT_TRUE(GetFileDosDateTime(file, time));
  EXPECT_EQ(time, 0x4A6F6000u);
  {
    TMappedFile mapped;
    ASSERT_TRUE(mapped.Open(file));
    const uint8_t* view = mapped.MapView(0, 4);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(view), 4), "long");
  }
  EXPECT_GT(FreeDiskBytes(folder / tree), 0);
  ASSERT_TRUE(CopyFileAt(file, file + ".copy"));
  ASSERT_TRUE(RenameFileAt(file + ".copy", file + ".moved"));
  EXPECT_EQ(ReadWholeFile(file + ".moved"), "long");
  EXPECT_TRUE(DeleteFileAt(file + ".moved"));
  EXPECT_FALSE(FileExists(file + ".moved"));

  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(std::filesystem::path(Cp936ToUtf16(folder.Path())));
  const std::string relative = tree + "\\" + std::string(60, 'e') + "\\r.bin";
  const bool made = ForceDirectories(ExtractFilePath(relative));
  bool written = false;
  try {
    WriteWholeFile(relative, "relative");
    written = ReadWholeFile(relative) == "relative" && DeleteFileAt(relative);
  } catch (const EFileError&) {
  }
  std::filesystem::current_path(before);
  EXPECT_TRUE(made);
  EXPECT_TRUE(written);
  EXPECT_TRUE(DirectoryExists(folder / (tree + "\\" + std::string(60, 'e'))));
}
