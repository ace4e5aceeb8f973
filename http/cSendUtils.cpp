#include "http/cSendUtils.h"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <mutex>
#include <vector>

#include "platform/CodePage.h"

namespace {

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = UpperChar(c);
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string TrimText(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

std::string Base64Encode(const std::string& data) {
  static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const uint32_t n = (static_cast<uint8_t>(data[i]) << 16) | (static_cast<uint8_t>(data[i + 1]) << 8) |
                       static_cast<uint8_t>(data[i + 2]);
    out += Alphabet[(n >> 18) & 63];
    out += Alphabet[(n >> 12) & 63];
    out += Alphabet[(n >> 6) & 63];
    out += Alphabet[n & 63];
  }
  const size_t rest = data.size() - i;
  if (rest > 0) {
    uint32_t n = static_cast<uint8_t>(data[i]) << 16;
    if (rest == 2) n |= static_cast<uint8_t>(data[i + 1]) << 8;
    out += Alphabet[(n >> 18) & 63];
    out += Alphabet[(n >> 12) & 63];
    out += rest == 2 ? Alphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string EncodeUrlPath(const std::string& path) {
  static const char Hex[] = "0123456789ABCDEF";
  const std::string utf8 = Cp936ToUtf8(path);
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    const unsigned char b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || IsDigit(c) || c == '-' || c == '.' ||
        c == '/' || c == '&' || c == '=' || c == '?' || c == '_') {
      out += c;
    } else if (c == ' ') {
      out += "%20";
    } else {
      out += '%';
      out += Hex[b >> 4];
      out += Hex[b & 15];
    }
  }
  return out;
}

bool ParseDecimal(const std::string& text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  int64_t n = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return false;
    n = n * 10 + (c - '0');
  }
  value = n;
  return true;
}

bool ParseChunkSizeLine(const std::string& line, size_t maxLineLength, uint64_t maxChunkSize,
                        uint64_t& size) {
  if (line.size() > maxLineLength) return false;
  const size_t end = line.find_first_of(" ;");
  const std::string digits = line.substr(0, end);
  // Sixteen hexadecimal digits fill 64 bits; leading zeros are allowed.
  size_t first = 0;
  while (first + 1 < digits.size() && digits[first] == '0') ++first;
  if (digits.empty() || digits.size() - first > 16) return false;
  uint64_t n = 0;
  for (size_t i = first; i < digits.size(); ++i) {
    const int v = HexValue(digits[i]);
    if (v < 0) return false;
    n = (n << 4) | static_cast<uint64_t>(v);
  }
  if (n > maxChunkSize) return false;
  size = n;
  return true;
}

TInflateResult InflateBuffer(const std::string& data, int windowBits, uint64_t maxOutput,
                             std::string& output, std::string& error) {
  constexpr size_t Step = 32 * 1024;
  output.clear();
  error.clear();
  z_stream stream{};
  if (inflateInit2(&stream, windowBits) != Z_OK) {
    error = "inflateInit2 failed";
    return TInflateResult::Corrupt;
  }
  // zlib takes 32-bit counts; a document is far below that, but feed it in
  // steps anyway so that no cast can truncate.
  size_t consumed = 0;
  char piece[Step];
  TInflateResult result = TInflateResult::Corrupt;
  for (;;) {
    if (stream.avail_in == 0 && consumed < data.size()) {
      const size_t n = std::min<size_t>(data.size() - consumed, 1u << 30);
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + consumed));
      stream.avail_in = static_cast<uInt>(n);
      consumed += n;
    }
    stream.next_out = reinterpret_cast<Bytef*>(piece);
    stream.avail_out = Step;
    const int rc = inflate(&stream, Z_NO_FLUSH);
    const size_t produced = Step - stream.avail_out;
    if (output.size() + produced > maxOutput) {
      error = "inflated body exceeds " + std::to_string(maxOutput) + " bytes";
      result = TInflateResult::TooLarge;
      break;
    }
    output.append(piece, produced);
    if (rc == Z_STREAM_END) {
      result = TInflateResult::Ok;
      break;
    }
    if (rc != Z_OK && !(rc == Z_BUF_ERROR && produced > 0)) {
      error = stream.msg ? stream.msg : (rc == Z_BUF_ERROR ? "unexpected end of data" : "inflate error");
      break;
    }
    if (produced == 0 && stream.avail_in == 0 && consumed >= data.size()) {
      error = "unexpected end of data";
      break;
    }
  }
  inflateEnd(&stream);
  if (result != TInflateResult::Ok) output.clear();
  return result;
}

// ---------------------------------------------------------------------------
// HTTP dates

namespace {

struct TZoneName {
  const char* Name;
  int Hours;
};

// Hours east of UTC of the zone names that dates may carry.
const TZoneName ZoneNames[] = {
    {"UT", 0},     {"UTC", 0},   {"GMT", 0},   {"WET", 0},   {"CET", 1},   {"FWT", 1},
    {"MET", 1},    {"MEWT", 1},  {"SWT", 1},   {"EET", 2},   {"MEST", 2},  {"MESZ", 2},
    {"SST", 2},    {"FST", 2},   {"CEST", 2},  {"BT", 3},    {"ZP4", 4},   {"ZP5", 5},
    {"ZP6", 6},    {"WAST", 7},  {"CCT", 8},   {"WADT", 8},  {"JST", 9},   {"GST", 10},
    {"EADT", 11},  {"IDLE", 12}, {"NZST", 12}, {"NZT", 12},  {"NZDT", 13}, {"WAT", -1},
    {"BST", -1},   {"AT", -2},   {"ADT", -3},  {"AST", -4},  {"EDT", -4},  {"EST", -5},
    {"CDT", -5},   {"CST", -6},  {"MDT", -6},  {"MST", -7},  {"PDT", -7},  {"PST", -8},
    {"YDT", -8},   {"YST", -9},  {"HDT", -9},  {"AHST", -10}, {"CAT", -10}, {"HST", -10},
    {"EAST", -10}, {"NT", -11},  {"IDLW", -12},
};

const char* const MonthNames[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                  "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static const int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool AllDigits(const std::string& word, size_t from) {
  if (from >= word.size()) return false;
  for (size_t i = from; i < word.size(); ++i) {
    if (!IsDigit(word[i])) return false;
  }
  return true;
}

// "hh:mm:ss"; false when a part is not a number or out of range.
bool ParseTimeOfDay(const std::string& word, int& hour, int& minute, int& second) {
  int parts[3] = {0, 0, 0};
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t end = word.find(':', start);
    if (i == 2) end = word.size();
    if (end == std::string::npos) return false;
    const std::string part = word.substr(start, end - start);
    int64_t value = 0;
    if (part.size() > 2 || !ParseDecimal(part, value)) return false;
    parts[i] = static_cast<int>(value);
    start = end + 1;
  }
  if (parts[0] > 23 || parts[1] > 59 || parts[2] > 60) return false;
  hour = parts[0];
  minute = parts[1];
  second = std::min(parts[2], 59);
  return true;
}

struct TDateWords {
  int64_t Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0, Minute = 0, Second = 0;
  bool HaveZone = false;
  bool LocalZone = false;
  int ZoneMinutes = 0;
  bool Dst = false;
};

bool ParseZone(const std::string& word, TDateWords& date) {
  if (word.size() == 5 && (word[0] == '+' || word[0] == '-') && AllDigits(word, 1)) {
    if (word == "-0000") {
      date.LocalZone = true;
    } else {
      const int hours = (word[1] - '0') * 10 + (word[2] - '0');
      const int minutes = (word[3] - '0') * 10 + (word[4] - '0');
      date.ZoneMinutes = (word[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
      date.LocalZone = false;
    }
    date.HaveZone = true;
    return true;
  }
  for (const TZoneName& zone : ZoneNames) {
    if (word == zone.Name) {
      date.ZoneMinutes = zone.Hours * 60;
      date.LocalZone = false;
      date.HaveZone = true;
      return true;
    }
  }
  return false;
}

void ParseDateWord(const std::string& word, TDateWords& date) {
  if (ParseZone(word, date)) return;
  int64_t number = 0;
  if (ParseDecimal(word, number)) {
    if (number <= 0) return;
    if (number < 32 && date.Day == 0) {
      date.Day = static_cast<int>(number);
    } else if (date.Year == 0 && (date.Month != 0 || number > 12)) {
      if (number < 32) number += 2000;
      if (number < 1000) number += 1900;
      date.Year = number;
    }
    return;
  }
  if (std::count(word.begin(), word.end(), ':') >= 2) {
    ParseTimeOfDay(word, date.Hour, date.Minute, date.Second);
    return;
  }
  if (word == "DST") {
    date.Dst = true;
    return;
  }
  if (date.Month == 0) {
    for (int i = 0; i < 12; ++i) {
      if (word == MonthNames[i]) date.Month = i + 1;
    }
  }
}

}  // namespace

int64_t DateTimeToSeconds(const THttpDateTime& time) {
  return DaysFromCivil(time.Year, time.Month, time.Day) * 86400 + time.Hour * 3600 + time.Minute * 60 +
         time.Second;
}

THttpDateTime SecondsToDateTime(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The inverse of DaysFromCivil.
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  THttpDateTime time;
  time.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  time.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  time.Year = static_cast<int>(yoe + era * 400 + (time.Month <= 2));
  time.Hour = static_cast<int>(rest / 3600);
  time.Minute = static_cast<int>(rest / 60 % 60);
  time.Second = static_cast<int>(rest % 60);
  return time;
}

THttpDateTime ParseHttpDate(const std::string& text, int localBiasMinutes, size_t maxTextLength,
                            size_t maxWordLength) {
  std::string cut = text.substr(0, maxTextLength);
  // 01-Jan-2011 splits into words, while a zone written after a blank, such
  // as -0500, keeps its sign.
  for (size_t i = 0; i < cut.size(); ++i) {
    if (cut[i] == '-' && (i == 0 || cut[i - 1] != ' ')) cut[i] = ' ';
  }
  TDateWords date;
  size_t start = 0;
  while (start < cut.size()) {
    size_t end = cut.find(' ', start);
    if (end == std::string::npos) end = cut.size();
    if (end > start && end - start <= maxWordLength) ParseDateWord(UpperCase(cut.substr(start, end - start)), date);
    start = end + 1;
  }

  THttpDateTime result;
  // Years are kept within four digits so that every later step stays in range.
  if (date.Year != 0) result.Year = static_cast<int>(std::min<int64_t>(date.Year, 9999));
  if (date.Month != 0) result.Month = date.Month;
  if (date.Day != 0) result.Day = std::min(date.Day, DaysInMonth(result.Year, result.Month));
  result.Hour = date.Hour;
  result.Minute = date.Minute;
  result.Second = date.Second;
  if (date.LocalZone) return result;
  const int zoneMinutes = date.ZoneMinutes + (date.Dst ? 60 : 0);
  return SecondsToDateTime(DateTimeToSeconds(result) + (localBiasMinutes - zoneMinutes) * 60);
}

int CurrentLocalBiasMinutes() {
  // localtime and gmtime share static storage on some C libraries.
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  const std::time_t now = std::time(nullptr);
  const std::tm local = *std::localtime(&now);
  THttpDateTime asLocal;
  asLocal.Year = local.tm_year + 1900;
  asLocal.Month = local.tm_mon + 1;
  asLocal.Day = local.tm_mday;
  asLocal.Hour = local.tm_hour;
  asLocal.Minute = local.tm_min;
  asLocal.Second = local.tm_sec;
  return static_cast<int>((DateTimeToSeconds(asLocal) - static_cast<int64_t>(now)) / 60);
}

int64_t HttpDateToUnixTime(const std::string& text) {
  const int bias = CurrentLocalBiasMinutes();
  return DateTimeToSeconds(ParseHttpDate(text, bias)) - static_cast<int64_t>(bias) * 60;
}
