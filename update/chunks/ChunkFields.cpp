#include "update/chunks/ChunkFields.h"

#include <cmath>

#include "platform/CodePage.h"

namespace {

// Walks the elements of the top-level array and keeps the keys that
// matter here; everything nested deeper is passed over.
class TRefHandler : public nlohmann::json_sax<TJsonValue> {
public:
  explicit TRefHandler(std::map<std::string, TChunkIndexRef>& refs) : FRefs(refs) {}
  bool IsArray() const { return FWasArray; }

  bool null() override { return Scalar(); }
  bool boolean(bool) override { return Scalar(); }
  bool number_integer(number_integer_t value) override { return Number(static_cast<double>(value)); }
  bool number_unsigned(number_unsigned_t value) override { return Number(static_cast<double>(value)); }
  bool number_float(number_float_t value, const string_t&) override { return Number(value); }
  bool string(string_t& value) override {
    if (AtElementKey()) {
      if (FKey == "File") FFile = value, FHas |= 1;
      else if (FKey == ChunkIndexKey) FRef.Name = value, FHas |= 2;
      else if (FKey == ChunkIndexMd5Key) FRef.Md5 = value, FHas |= 8;
      else if (FKey == ChunkIndexSha256Key) FRef.Sha256 = value;
    }
    return Scalar();
  }
  bool binary(binary_t&) override { return Scalar(); }
  bool start_object(std::size_t) override {
    if (FDepth == 1) {
      FHas = 0;
      FFile.clear();
      FRef = TChunkIndexRef();
    }
    ++FDepth;
    FKey.clear();
    return true;
  }
  bool key(string_t& value) override {
    if (FDepth == 2) FKey = value;
    return true;
  }
  bool end_object() override {
    if (--FDepth == 1 && FHas == 15) {
      const std::string file = Utf8ToCp936(FFile);
      FRef.Name = Utf8ToCp936(FRef.Name);
      if (!file.empty() && IsSafeRelativePath(FRef.Name) && FRef.Size > 0) FRefs[file] = FRef;
    }
    FKey.clear();
    return true;
  }
  bool start_array(std::size_t) override {
    if (FDepth == 0) FWasArray = true;
    ++FDepth;
    FKey.clear();
    return true;
  }
  bool end_array() override {
    --FDepth;
    FKey.clear();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
  bool AtElementKey() const { return FDepth == 2 && !FKey.empty(); }
  bool Scalar() {
    FKey.clear();
    return true;
  }
  bool Number(double value) {
    if (AtElementKey() && FKey == ChunkIndexSizeKey && std::isfinite(value) && value >= 0 && value < 9.0e15) {
      FRef.Size = static_cast<int64_t>(std::llround(value));
      FHas |= 4;
    }
    return Scalar();
  }

  std::map<std::string, TChunkIndexRef>& FRefs;
  int FDepth = 0;
  bool FWasArray = false;
  std::string FKey;
  std::string FFile;
  TChunkIndexRef FRef;
  int FHas = 0;
};

}  // namespace

bool ReadChunkIndexRefs(const TByteSource& source, std::map<std::string, TChunkIndexRef>& refs) {
  refs.clear();
  std::string bytes;
  char buffer[65536];
  for (size_t count; (count = source(buffer, sizeof buffer)) > 0;) bytes.append(buffer, count);
  size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  TRefHandler handler(refs);
  const bool parsed = TJsonValue::sax_parse(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end(), &handler);
  if (!parsed || !handler.IsArray()) {
    refs.clear();
    return false;
  }
  return true;
}
