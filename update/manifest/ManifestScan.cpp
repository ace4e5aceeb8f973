#include "update/manifest/ManifestScan.h"

#include <climits>
#include <cstring>

#include "platform/CodePage.h"

namespace {

constexpr size_t ScanChunkBytes = 64 << 10;

// Stops the scan: the general parser takes over.
struct TStop {};

class TScanner {
public:
  TScanner(const std::function<size_t(char*, size_t)>& source, std::string& buffer)
      : FSource(source), FBuffer(buffer) {}

  // The next byte, reading more when the buffer is used up; -1 at the end.
  int Peek() {
    if (FPosition == FBuffer.size() && !More()) return -1;
    return static_cast<unsigned char>(FBuffer[FPosition]);
  }
  int Next() {
    const int c = Peek();
    if (c >= 0) ++FPosition;
    return c;
  }
  void Expect(char c) {
    if (Next() != c) throw TStop{};
  }
  void SkipSpace() {
    for (int c = Peek(); c == ' ' || c == '\t' || c == '\n' || c == '\r'; c = Peek()) ++FPosition;
  }
  size_t Position() const { return FPosition; }
  // Drops what lies before `position` once that is a chunk's worth, so
  // the buffer stays small without moving its bytes for every element;
  // positions shift accordingly.
  void Forget(size_t position) {
    if (position < ScanChunkBytes) return;
    FBuffer.erase(0, position);
    FPosition -= position;
  }

  std::string String();
  int64_t Integer();
  bool Literal(bool& value, bool& isNull);
  void SkipScalar();

private:
  bool More() {
    const size_t old = FBuffer.size();
    FBuffer.resize(old + ScanChunkBytes);
    const size_t count = FSource(FBuffer.data() + old, ScanChunkBytes);
    FBuffer.resize(old + count);
    return count > 0;
  }
  void Utf8Sequence(int lead, std::string& text);

  const std::function<size_t(char*, size_t)>& FSource;
  std::string& FBuffer;
  size_t FPosition = 0;
};

// Well-formed UTF-8 as RFC 3629 has it, which is what the JSON parser
// accepts inside strings.
void TScanner::Utf8Sequence(int lead, std::string& text) {
  int count = 0, low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) count = 1;
  else if (lead == 0xE0) count = 2, low = 0xA0;
  else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) count = 2;
  else if (lead == 0xED) count = 2, high = 0x9F;
  else if (lead == 0xF0) count = 3, low = 0x90;
  else if (lead >= 0xF1 && lead <= 0xF3) count = 3;
  else if (lead == 0xF4) count = 3, high = 0x8F;
  else throw TStop{};
  text += static_cast<char>(lead);
  for (int i = 0; i < count; ++i) {
    const int c = Next();
    if (c < low || c > high) throw TStop{};
    text += static_cast<char>(c);
    low = 0x80, high = 0xBF;
  }
}

std::string TScanner::String() {
  Expect('"');
  std::string text;
  for (;;) {
    // A run of plain bytes is taken at once.
    size_t end = FPosition;
    while (end < FBuffer.size()) {
      const auto b = static_cast<unsigned char>(FBuffer[end]);
      if (b == '"' || b == '\\' || b < 0x20 || b >= 0x80) break;
      ++end;
    }
    text.append(FBuffer, FPosition, end - FPosition);
    FPosition = end;
    const int c = Next();
    if (c == '"') return text;
    if (c < 0x20) throw TStop{};  // a control byte, or the end
    if (c >= 0x80) {
      Utf8Sequence(c, text);
      continue;
    }
    if (c != '\\') {
      text += static_cast<char>(c);
      continue;
    }
    switch (Next()) {
      case '"': text += '"'; break;
      case '\\': text += '\\'; break;
      case '/': text += '/'; break;
      case 'b': text += '\b'; break;
      case 'f': text += '\f'; break;
      case 'n': text += '\n'; break;
      case 'r': text += '\r'; break;
      case 't': text += '\t'; break;
      default: throw TStop{};  // \u and anything else
    }
  }
}

// An integer of at most 18 digits without fraction or exponent.
int64_t TScanner::Integer() {
  const bool negative = Peek() == '-';
  if (negative) ++FPosition;
  int c = Next();
  if (c < '0' || c > '9') throw TStop{};
  int64_t value = c - '0';
  int digits = 1;
  if (c == '0') {
    c = Peek();
    if (c >= '0' && c <= '9') throw TStop{};
  } else {
    for (c = Peek(); c >= '0' && c <= '9'; c = Peek()) {
      if (++digits > 18) throw TStop{};
      value = value * 10 + (c - '0');
      ++FPosition;
    }
  }
  if (c == '.' || c == 'e' || c == 'E') throw TStop{};
  return negative ? -value : value;
}

bool TScanner::Literal(bool& value, bool& isNull) {
  static const char* const words[] = {"true", "false", "null"};
  const int first = Peek();
  for (int w = 0; w < 3; ++w) {
    if (first != words[w][0]) continue;
    for (const char* p = words[w]; *p; ++p)
      if (Next() != *p) throw TStop{};
    value = w == 0;
    isNull = w == 2;
    return true;
  }
  return false;
}

// The value of a key the launcher does not read: any scalar.
void TScanner::SkipScalar() {
  const int c = Peek();
  bool flag = false, isNull = false;
  if (c == '"') String();
  else if (c == '-' || (c >= '0' && c <= '9')) Integer();
  else if (!Literal(flag, isNull)) throw TStop{};  // an object, an array, or not JSON
}

// One object element with the proper types; any other value stops the scan.
TManifestEntry Element(TScanner& in) {
  TManifestEntry entry;
  in.Expect('{');
  in.SkipSpace();
  if (in.Peek() == '}') {
    in.Next();
    return entry;
  }
  for (;;) {
    const std::string key = in.String();
    in.SkipSpace();
    in.Expect(':');
    in.SkipSpace();
    bool flag = false, isNull = false;
    if (std::string* text = key == "File"        ? &entry.File
                            : key == "Hash"      ? &entry.Hash
                            : key == "Sha256"    ? &entry.Sha256
                            : key == "ZipHash"   ? &entry.ZipHash
                            : key == "ZipSha256" ? &entry.ZipSha256
                                                 : nullptr) {
      if (in.Peek() != '"') throw TStop{};
      *text = in.String();
    } else if (key == "Need" || key == "IsZip") {
      if (!in.Literal(flag, isNull) || isNull) throw TStop{};
      (key == "Need" ? entry.Need : entry.IsZip) = flag;
    } else if (key == "isLauncher") {
      entry.isLauncher = in.Integer() != 0 ? 1 : 0;
    } else if (key == "Size") {
      const int64_t size = in.Integer();
      if (size < INT32_MIN || size > INT32_MAX) throw TStop{};
      entry.Size = static_cast<int32_t>(size);
    } else {
      in.SkipScalar();
    }
    in.SkipSpace();
    const int c = in.Next();
    if (c == '}') break;
    if (c != ',') throw TStop{};
    in.SkipSpace();
  }
  entry.File = Utf8ToCp936(entry.File);
  return entry;
}

}  // namespace

TScanEnd ScanPlainManifest(const std::function<size_t(char*, size_t)>& source, TManifestScan& scan,
                       const std::function<void(TManifestEntry&&)>& entry) {
  TScanner in(source, scan.buffer);
  scan.rest = 0;
  try {
    // One byte-order mark, as ParseUpdateJson skips it.
    if (in.Peek() == 0xEF) {
      in.Expect('\xEF');
      in.Expect('\xBB');
      in.Expect('\xBF');
      if (in.Peek() == 0xEF) throw TStop{};
    }
    in.SkipSpace();
    in.Expect('[');
    scan.started = true;
    in.SkipSpace();
    in.Forget(in.Position());
    if (in.Peek() == ']') {
      in.Next();
    } else {
      for (;;) {
        // The element's start is where the general parser would go on.
        scan.rest = in.Position();
        TManifestEntry read = Element(in);
        in.SkipSpace();
        const int c = in.Next();
        if (c != ',' && c != ']') throw TStop{};
        entry(std::move(read));
        ++scan.count;
        if (c == ']') break;
        in.SkipSpace();
        // "[" and the rest would read a closing bracket here as an empty array.
        if (in.Peek() == ']') return TScanEnd::Invalid;
        in.Forget(in.Position());
      }
    }
    in.SkipSpace();
    // The JSON parser takes a zero byte for the end of its input.
    return in.Peek() <= 0 ? TScanEnd::Done : TScanEnd::Invalid;
  } catch (const TStop&) {
    return TScanEnd::Stopped;
  }
}
