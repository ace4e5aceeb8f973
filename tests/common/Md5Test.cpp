#include <gtest/gtest.h>

#include "common/Md5.h"
#include "support/TestSupport.h"

TEST(Md5, Rfc1321TestSuite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"}};
  for (const auto& [input, digest] : cases) EXPECT_EQ(MD5OfMemory(std::string(input)), digest) << input;
}

TEST(Md5, PieceSizesDoNotChangeTheDigest) {
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 7));
  const std::string whole = MD5OfMemory(data);
  for (size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 4095u}) {
    TMd5 md5;
    for (size_t at = 0; at < data.size(); at += piece) md5.Update(data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(md5.FinalHex(), whole) << "piece " << piece;
  }
}

TEST(Md5, FileAcrossSeveralMappedViewsMatchesMemory) {
  TTempFolder folder;
  // 9 MiB and a bit: three views, the last one partial.
  std::string data(9 * 1024 * 1024 + 12345, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 2654435761u) >> 13);
  WriteWholeFile(folder / "big.bin", data);
  EXPECT_EQ(MD5OfFile(folder / "big.bin"), MD5OfMemory(data));
}

TEST(Md5, UnreadableOrEmptyFileGivesZeroDigest) {
  TTempFolder folder;
  WriteWholeFile(folder / "empty.bin", "");
  EXPECT_EQ(MD5OfFile(folder / "empty.bin"), ZeroDigest);
  EXPECT_EQ(MD5OfFile(folder / "missing.bin"), ZeroDigest);
  EXPECT_EQ(MD5OfFile(folder.Path()), ZeroDigest);
}
