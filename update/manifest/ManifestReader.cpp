#include "update/manifest/ManifestReader.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "update/manifest/ManifestScan.h"

namespace {

constexpr size_t ReadChunkBytes = 64 << 10;
constexpr size_t TextChunkBytes = 256 << 10;

// The bytes of a source one at a time, refilled a chunk at a time, with a
// leading byte-order mark skipped.
class TChunkReader {
public:
  explicit TChunkReader(const TByteSource& source) : FSource(source), FBuffer(new char[ReadChunkBytes]) {
    // The mark is looked for in the first three bytes however the source
    // hands them out.
    for (size_t count = 1; count > 0 && FSize < 3;) {
      count = FSource(FBuffer.get() + FSize, ReadChunkBytes - FSize);
      FSize += count;
    }
    if (FSize >= 3 && std::memcmp(FBuffer.get(), "\xEF\xBB\xBF", 3) == 0) FPosition = 3;
    if (FPosition == FSize) Fill();
  }
  bool AtEnd() const { return FPosition == FSize; }
  char Current() const { return FBuffer[FPosition]; }
  void Advance() {
    if (++FPosition == FSize) Fill();
  }

private:
  void Fill() {
    FPosition = 0;
    FSize = FSource(FBuffer.get(), ReadChunkBytes);
  }
  const TByteSource& FSource;
  std::unique_ptr<char[]> FBuffer;
  size_t FPosition = 0;
  size_t FSize = 0;
};

// The input iterator the JSON parser walks; a null reader is the end.
struct TChunkIterator {
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = char;

  TChunkReader* reader = nullptr;
  char operator*() const { return reader->Current(); }
  TChunkIterator& operator++() {
    reader->Advance();
    return *this;
  }
  TChunkIterator operator++(int) {
    TChunkIterator before = *this;
    reader->Advance();
    return before;
  }
  bool AtEnd() const { return !reader || reader->AtEnd(); }
  bool operator==(const TChunkIterator& other) const { return AtEnd() == other.AtEnd(); }
  bool operator!=(const TChunkIterator& other) const { return AtEnd() != other.AtEnd(); }
};

// Parser events of the top-level array, folded into one TManifestFields per
// element. Depth 1 is inside the array, 2 inside an element.
class TElementHandler {
public:
  using TString = TJsonValue::string_t;
  explicit TElementHandler(const std::function<bool(const TManifestFields&)>& element) : FElement(element) {}

  bool null() { return Scalar(TJsonValue()); }
  bool boolean(bool value) { return Scalar(TJsonValue(value)); }
  bool number_integer(TJsonValue::number_integer_t value) { return Scalar(TJsonValue(value)); }
  bool number_unsigned(TJsonValue::number_unsigned_t value) { return Scalar(TJsonValue(value)); }
  bool number_float(TJsonValue::number_float_t value, const TString&) { return Scalar(TJsonValue(value)); }
  bool string(TString& value) { return Scalar(TJsonValue(std::move(value))); }
  bool binary(TJsonValue::binary_t&) { return Scalar(TJsonValue()); }
  bool start_object(size_t) { return Open(TJsonValue::value_t::object); }
  bool start_array(size_t) { return Open(TJsonValue::value_t::array); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool key(TString& name) {
    if (FDepth == 2) {
      const auto* found = std::find_if(std::begin(ManifestKeyNames), std::end(ManifestKeyNames),
                                       [&](const char* known) { return name == known; });
      FKey = found - std::begin(ManifestKeyNames);
    }
    return true;
  }
  bool parse_error(size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

  bool IsArray() const { return FTopIsArray; }
  size_t Count() const { return FCount; }

private:
  bool Scalar(TJsonValue&& value) {
    if (FDepth == 0) return true;  // a top-level scalar: not an array
    if (FDepth == 1) {
      Begin(false);
      Finish();
    } else if (FDepth == 2) {
      Capture(std::move(value));
    }
    return true;
  }
  bool Open(TJsonValue::value_t kind) {
    if (FDepth == 0) FTopIsArray = kind == TJsonValue::value_t::array;
    if (FDepth == 0 && !FTopIsArray) return false;  // not a manifest: stop reading
    if (FDepth == 1) {
      Begin(kind == TJsonValue::value_t::object);
      if (!FFields.isObject) Finish();  // an array element: its contents do not matter
    } else if (FDepth == 2) {
      Capture(TJsonValue(kind));
    }
    ++FDepth;
    return true;
  }
  bool Close() {
    if (--FDepth == 1 && FInObject) Finish();
    return true;
  }
  void Begin(bool isObject) {
    ++FCount;
    FInObject = isObject;
    FKey = ManifestKeyCount;
    if (!FWanted) return;
    FFields.isObject = isObject;
    std::fill(std::begin(FFields.present), std::end(FFields.present), false);
  }
  void Capture(TJsonValue&& value) {
    if (!FWanted || FKey >= ManifestKeyCount) return;
    FFields.present[FKey] = true;
    FFields.values[FKey] = std::move(value);
  }
  void Finish() {
    FInObject = false;
    if (FWanted) FWanted = FElement(FFields);
  }

  const std::function<bool(const TManifestFields&)>& FElement;
  TManifestFields FFields;
  size_t FDepth = 0;
  size_t FKey = ManifestKeyCount;
  size_t FCount = 0;
  bool FTopIsArray = false;
  bool FInObject = false;
  bool FWanted = true;
};

constexpr uint8_t FlagNeed = 1, FlagZip = 2, FlagLauncher = 4, FlagPackedHash = 8;
// FlagPackedAdded << i: the i-th added digest is kept packed.
constexpr uint8_t FlagPackedAdded = 16;
const char HexDigits[] = "0123456789abcdef";

// A hash of lowercase hexadecimal digits of the usual length (32 for MD5,
// 64 for SHA-256) is kept as its bytes; any other text is kept as it is.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsPackableHash(const std::string& hash, size_t digits) {
  return hash.size() == digits && std::all_of(hash.begin(), hash.end(), [](char c) { return HexValue(c) >= 0; });
}

std::string PackHash(const std::string& hash) {
  std::string packed(hash.size() / 2, '\0');
  for (size_t i = 0; i < packed.size(); ++i)
    packed[i] = static_cast<char>(HexValue(hash[2 * i]) << 4 | HexValue(hash[2 * i + 1]));
  return packed;
}

std::string UnpackHash(const char* packed, size_t bytes) {
  std::string hash(2 * bytes, '0');
  for (size_t i = 0; i < bytes; ++i) {
    const auto byte = static_cast<unsigned char>(packed[i]);
    hash[2 * i] = HexDigits[byte >> 4];
    hash[2 * i + 1] = HexDigits[byte & 15];
  }
  return hash;
}

// The digits each added digest has when it is well formed.
constexpr size_t AddedDigits[] = {64, 32, 64};

// An added digest that is not well formed never matches anything; longer
// texts of that kind are kept as one byte that is no digest either.
std::string AddedText(const std::string& text, size_t digits, bool& packed) {
  packed = IsPackableHash(text, digits);
  if (packed) return PackHash(text);
  return text.size() <= 255 ? text : std::string("?");
}

}  // namespace

TByteSource StringSource(const std::string& bytes) {
  return [&bytes, offset = size_t(0)](char* buffer, size_t capacity) mutable {
    const size_t count = std::min(capacity, bytes.size() - offset);
    std::memcpy(buffer, bytes.data() + offset, count);
    offset += count;
    return count;
  };
}

bool ReadManifestElements(const TByteSource& source, const std::function<bool(const TManifestFields&)>& element,
                          size_t& count) {
  TChunkReader reader(source);
  TElementHandler handler(element);
  const bool parsed = TJsonValue::sax_parse(TChunkIterator{&reader}, TChunkIterator{}, &handler);
  count = handler.Count();
  return parsed && handler.IsArray();
}

void TManifest::Clear() {
  FRecords.clear();
  FChunks.clear();
  FChunkUsed = FChunkSize = 0;
  FCount = 0;
  FErrorIndex = SIZE_MAX;
  FErrorText.clear();
}

bool TManifest::Read(const TByteSource& source) {
  Clear();
  TManifestScan scan;
  const TScanEnd quick = ScanPlainManifest(source, scan, [this](TManifestEntry&& entry) { KeepEntry(entry); });
  if (quick != TScanEnd::Stopped) {
    if (quick == TScanEnd::Invalid) Clear();
    else FCount = scan.count;
    return quick == TScanEnd::Done;
  }
  // The general parser reads the rest: "[" and the elements from where the
  // quick scan stopped, or the whole document when it stopped before the
  // array began.
  const std::string head = scan.started ? "[" : "";
  size_t headDone = 0, kept = scan.rest;
  const TByteSource rest = [&](char* buffer, size_t capacity) -> size_t {
    if (headDone < head.size()) {
      const size_t count = std::min(capacity, head.size() - headDone);
      std::memcpy(buffer, head.data() + headDone, count);
      headDone += count;
      return count;
    }
    if (kept < scan.buffer.size()) {
      const size_t count = std::min(capacity, scan.buffer.size() - kept);
      std::memcpy(buffer, scan.buffer.data() + kept, count);
      kept += count;
      return count;
    }
    return source(buffer, capacity);
  };
  size_t count = 0;
  const bool parsed = ReadManifestElements(rest, [this](const TManifestFields& fields) { return Keep(fields); }, count);
  if (!parsed) {
    Clear();
    return false;
  }
  FCount = scan.count + count;
  return true;
}

// Keeps one element; after a wrong one nothing more is kept.
bool TManifest::Keep(const TManifestFields& fields) {
  try {
    KeepEntry(ReadManifestEntry(fields));
    return true;
  } catch (const EUpdateJsonError& error) {
    FErrorIndex = FRecords.size();
    FErrorText = error.what();
    return false;
  }
}

void TManifest::KeepEntry(const TManifestEntry& entry) {
  const bool packed = IsPackableHash(entry.Hash, 32);
  std::string texts[2 + AddedDigests] = {entry.File, packed ? PackHash(entry.Hash) : entry.Hash};
  uint8_t flags = (entry.Need ? FlagNeed : 0) | (entry.IsZip ? FlagZip : 0) | (entry.isLauncher ? FlagLauncher : 0) |
                  (packed ? FlagPackedHash : 0);
  const std::string* added[AddedDigests] = {&entry.Sha256, &entry.ZipHash, &entry.ZipSha256};
  TRecord record{nullptr, static_cast<uint32_t>(entry.File.size()), static_cast<uint32_t>(texts[1].size()),
                 entry.Size, 0, {}};
  for (size_t i = 0; i < AddedDigests; ++i) {
    bool addedPacked = false;
    texts[2 + i] = AddedText(*added[i], AddedDigits[i], addedPacked);
    if (addedPacked) flags |= static_cast<uint8_t>(FlagPackedAdded << i);
    record.addedLength[i] = static_cast<uint8_t>(texts[2 + i].size());
  }
  record.flags = flags;
  record.text = Store(texts, 2 + AddedDigests);
  FRecords.push_back(record);
}

// Texts live in chunks that never move, so a record keeps a plain pointer.
const char* TManifest::Store(const std::string* texts, size_t count) {
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) length += texts[i].size();
  if (FChunks.empty() || FChunkSize - FChunkUsed < length) {
    FChunkSize = std::max(TextChunkBytes, length);
    FChunks.emplace_back(new char[FChunkSize]);
    FChunkUsed = 0;
  }
  char* text = FChunks.back().get() + FChunkUsed;
  for (size_t i = 0, at = 0; i < count; at += texts[i].size(), ++i) std::memcpy(text + at, texts[i].data(), texts[i].size());
  FChunkUsed += length;
  return text;
}

TManifestEntry TManifest::Entry(size_t index) const {
  if (index >= FErrorIndex) throw EUpdateJsonError(FErrorText);
  const TRecord& record = FRecords.at(index);
  TManifestEntry entry;
  entry.File.assign(record.text, record.fileLength);
  const char* at = record.text + record.fileLength;
  if (record.flags & FlagPackedHash) entry.Hash = UnpackHash(at, 16);
  else entry.Hash.assign(at, record.hashLength);
  at += record.hashLength;
  std::string* added[AddedDigests] = {&entry.Sha256, &entry.ZipHash, &entry.ZipSha256};
  for (size_t i = 0; i < AddedDigests; ++i) {
    if (record.flags & (FlagPackedAdded << i)) *added[i] = UnpackHash(at, record.addedLength[i]);
    else added[i]->assign(at, record.addedLength[i]);
    at += record.addedLength[i];
  }
  entry.Size = record.size;
  entry.Need = (record.flags & FlagNeed) != 0;
  entry.IsZip = (record.flags & FlagZip) != 0;
  entry.isLauncher = (record.flags & FlagLauncher) ? 1 : 0;
  return entry;
}

bool IsAcceptedManifestText(const std::string& bytes) {
  TManifestFields first;
  size_t count = 0;
  const bool parsed = ReadManifestElements(StringSource(bytes), [&](const TManifestFields& fields) {
    first = fields;
    return false;
  }, count);
  return parsed && count > 0 && IsAcceptedFirstElement(first);
}
