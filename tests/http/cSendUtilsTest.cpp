#include "http/cSendUtils.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

std::string Compress(const std::string& data, int windowBits) {
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string SomeText() {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "entry " + std::to_string(i) + " of a manifest-like text\n";
  return text;
}

std::string Show(const THttpDateTime& t) {
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute,
           t.Second);
  return text;
}

}  // namespace

TEST(cSendUtils, Base64FollowsRfc4648) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
               {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"}, {"user:pa ss", "dXNlcjpwYSBzcw=="}, {"\xff\xfe\xfd", "//79"}};
  for (const auto& c : cases) EXPECT_EQ(Base64Encode(c.in), c.out) << c.in;
}

TEST(cSendUtils, PathEncodingKeepsTheSafeSetAndEscapesTheRest) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"/a b.txt", "/a%20b.txt"},
      {"/Az09-._&=?/", "/Az09-._&=?/"},
      {"/100%:+~#", "/100%25%3A%2B%7E%23"},
      {"/\xD6\xD0\xCE\xC4.txt", "/%E4%B8%AD%E6%96%87.txt"},  // code page 936 to UTF-8 first
      {"/dir\\f", "/dir%5Cf"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeUrlPath(c.in), c.out) << c.in;
}

TEST(cSendUtils, ChunkSizeLines) {
  const struct {
    const char* line;
    bool ok;
    uint64_t size;
  } cases[] = {
      {"0", true, 0},
      {"1a", true, 26},
      {"1A;name=value", true, 26},
      {"ff trailing words", true, 255},
      {"000000000000000000010", true, 16},  // leading zeros do not count towards 64 bits
      {"ffff", true, 65535},
      {"10000", false, 0},                  // above the limit of this table
      {"", false, 0},
      {";ext", false, 0},
      {" 5", false, 0},
      {"5x", false, 0},
      {"-1", false, 0},
      {"0x10", false, 0},
  };
  for (const auto& c : cases) {
    uint64_t size = 12345;
    EXPECT_EQ(ParseChunkSizeLine(c.line, 64, 65535, size), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(size, c.size) << c.line;
    }
  }
  uint64_t size = 0;
  EXPECT_TRUE(ParseChunkSizeLine("ffffffffffffffff", 64, UINT64_MAX, size));
  EXPECT_EQ(size, UINT64_MAX);
  EXPECT_FALSE(ParseChunkSizeLine("10000000000000000", 64, UINT64_MAX, size)) << "17 digits overflow";
  EXPECT_FALSE(ParseChunkSizeLine("1;" + std::string(100, 'x'), 64, UINT64_MAX, size)) << "line limit";
}

TEST(cSendUtils, InflatesEveryWindowBitsVariant) {
  const std::string text = SomeText();
  const struct {
    int compressBits;
    int inflateBits;
  } cases[] = {{31, GzipWindowBits}, {15, GzipWindowBits}, {-15, RawDeflateWindowBits}};
  for (const auto& c : cases) {
    std::string out, error;
    EXPECT_EQ(InflateBuffer(Compress(text, c.compressBits), c.inflateBits, text.size(), out, error),
              TInflateResult::Ok)
        << c.compressBits << " " << error;
    EXPECT_EQ(out, text);
  }
}

TEST(cSendUtils, CorruptOrTruncatedStreamsAreRefused) {
  const std::string gz = Compress(SomeText(), 31);
  const std::string inputs[] = {"", "not compressed at all", gz.substr(0, gz.size() / 2), gz.substr(0, 10),
                                std::string("\x1f\x8b\x08\x00", 4) + std::string(40, '\x55')};
  for (const std::string& input : inputs) {
    std::string out = "stale", error;
    EXPECT_EQ(InflateBuffer(input, GzipWindowBits, 1 << 20, out, error), TInflateResult::Corrupt);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(out.empty());
  }
}

TEST(cSendUtils, InflatedSizeIsBounded) {
  // 16 MiB of zeros in about 16 KiB: stopped at the limit, never expanded.
  const std::string bomb = Compress(std::string(16u << 20, '\0'), 31);
  ASSERT_LT(bomb.size(), 32u * 1024);
  std::string out, error;
  EXPECT_EQ(InflateBuffer(bomb, GzipWindowBits, 1 << 20, out, error), TInflateResult::TooLarge);
  EXPECT_TRUE(out.empty());
  EXPECT_NE(error.find("1048576"), std::string::npos) << error;

  const std::string text = SomeText();
  EXPECT_EQ(InflateBuffer(Compress(text, 31), GzipWindowBits, text.size(), out, error), TInflateResult::Ok)
      << "a body of exactly the limit passes";
  EXPECT_EQ(InflateBuffer(Compress(text, 31), GzipWindowBits, text.size() - 1, out, error),
            TInflateResult::TooLarge);
}

TEST(cSendUtils, HttpDateFormatsAtUtc) {
  const struct {
    const char* text;
    const char* utc;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", "1994-11-06 08:49:37"},    // RFC 1123
      {"Sunday, 06-Nov-94 08:49:37 GMT", "1994-11-06 08:49:37"},   // RFC 850
      {"Sun Nov  6 08:49:37 1994", "1994-11-06 08:49:37"},         // asctime, no zone = UTC
      {"sun, 06 nov 1994 08:49:37 gmt", "1994-11-06 08:49:37"},    // any case
      {"Sun, 06 Nov 1994 08:49:37 +0800", "1994-11-06 00:49:37"},
      {"Sun, 06 Nov 1994 08:49:37 -0530", "1994-11-06 14:19:37"},  // sign kept after a blank
      {"Sun, 06 Nov 1994 08:49:37 MET DST", "1994-11-06 06:49:37"},
      {"1994 Nov 06 08:49:37", "1994-11-06 08:49:37"},             // year first
      {"06 Nov 05 10:00:00 GMT", "2005-11-06 10:00:00"},           // two-digit years
      {"06 Nov 31 10:00:00 GMT", "2031-11-06 10:00:00"},
      {"06 Nov 50 10:00:00 GMT", "1950-11-06 10:00:00"},
      {"31 Feb 2001", "2001-02-28 00:00:00"},                      // clipped to the month
      {"30 Feb 2000", "2000-02-29 00:00:00"},                      // leap year
      {"31 Feb 1900", "1900-02-28 00:00:00"},                      // not a leap year
      {"", "1980-01-01 00:00:00"},                                 // defaults
      {"Nov Dec 1999", "1999-11-01 00:00:00"},                     // the first month wins
      {"01 Jan 2000 00:30:00 +0100", "1999-12-31 23:30:00"},
      {"06 Nov 1994 25:61:00 GMT", "1994-11-06 00:00:00"},         // an impossible time is ignored
      {"0 Nov 1994", "1994-11-01 00:00:00"},                       // not a positive number
  };
  for (const auto& c : cases) EXPECT_EQ(Show(ParseHttpDate(c.text, 0)), c.utc) << c.text;
}

TEST(cSendUtils, HttpDateZoneTable) {
  const struct {
    int hours;
    const char* names;
  } table[] = {{0, "UT UTC GMT WET"},     {1, "CET FWT MET MEWT SWT"}, {2, "EET MEST MESZ SST FST CEST"},
               {3, "BT"},                 {4, "ZP4"},                 {5, "ZP5"},
               {6, "ZP6"},                {7, "WAST"},                {8, "CCT WADT"},
               {9, "JST"},                {10, "GST"},                {11, "EADT"},
               {12, "IDLE NZST NZT"},     {13, "NZDT"},               {-1, "WAT BST"},
               {-2, "AT"},                {-3, "ADT"},                {-4, "AST EDT"},
               {-5, "EST CDT"},           {-6, "CST MDT"},            {-7, "MST PDT"},
               {-8, "PST YDT"},           {-9, "YST HDT"},            {-10, "AHST CAT HST EAST"},
               {-11, "NT"},               {-12, "IDLW"}};
  const THttpDateTime noon{2010, 6, 15, 12, 0, 0};
  int count = 0;
  for (const auto& row : table) {
    std::string names = std::string(row.names) + " ";
    for (size_t start = 0, end; (end = names.find(' ', start)) != std::string::npos; start = end + 1) {
      const std::string zone = names.substr(start, end - start);
      const THttpDateTime parsed = ParseHttpDate("15 Jun 2010 12:00:00 " + zone, 0);
      EXPECT_EQ(DateTimeToSeconds(parsed), DateTimeToSeconds(noon) - row.hours * 3600) << zone;
      ++count;
    }
  }
  EXPECT_EQ(count, 51);
}

TEST(cSendUtils, HttpDateConvertsToLocalTimeWithTheBias) {
  // 480 minutes east: China Standard Time.
  EXPECT_EQ(Show(ParseHttpDate("Fri, 31 Dec 1999 20:00:00 GMT", 480)), "2000-01-01 04:00:00");
  EXPECT_EQ(Show(ParseHttpDate("Fri, 31 Dec 1999 20:00:00 +0800", 480)), "1999-12-31 20:00:00");
  EXPECT_EQ(Show(ParseHttpDate("Fri, 31 Dec 1999 20:00:00 EST", -300)), "1999-12-31 20:00:00");
  // "-0000" is the local zone: no conversion whatever the bias.
  EXPECT_EQ(Show(ParseHttpDate("Fri, 31 Dec 1999 20:00:00 -0000", 480)), "1999-12-31 20:00:00");
  // File times: the same instant whatever the machine's zone.
  EXPECT_EQ(HttpDateToUnixTime("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(HttpDateToUnixTime("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
}

TEST(cSendUtils, CalendarConversionRoundTrips) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000; ++i) {
    const int64_t seconds = static_cast<int64_t>(random() % 400000000000ull) - 62135596800ll;
    EXPECT_EQ(DateTimeToSeconds(SecondsToDateTime(seconds)), seconds);
  }
  EXPECT_EQ(Show(SecondsToDateTime(951782400)), "2000-02-29 00:00:00");
}
