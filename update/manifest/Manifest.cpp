#include "update/manifest/Manifest.h"

#include <cctype>
#include <climits>
#include <cmath>

#include "common/DelimitedText.h"
#include "common/Log.h"
#include "common/PathUtils.h"
#include "platform/CodePage.h"

namespace {

[[noreturn]] void NotAnObject(const char* key) {
  throw EUpdateJsonError(std::string("not an object where \"") + key + "\" is read");
}

const TJsonValue* Member(const TJsonValue& object, const char* key) {
  if (!object.is_object()) NotAnObject(key);
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

[[noreturn]] void WrongType(const char* key, const char* wanted) {
  throw EUpdateJsonError(std::string("\"") + key + "\" is not a " + wanted);
}

}  // namespace

bool ParseUpdateJson(const std::string& bytes, TJsonValue& value) {
  size_t start = 0;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  value = TJsonValue::parse(bytes.begin() + static_cast<long>(start), bytes.end(), nullptr, false);
  if (value.is_discarded()) {
    value = nullptr;
    return false;
  }
  return true;
}

namespace {

std::string TextOf(const TJsonValue* value, const char* key) {
  if (!value) return std::string();
  if (!value->is_string()) WrongType(key, "string");
  return value->get_ref<const std::string&>();
}

int64_t IntegerOf(const TJsonValue* value, const char* key) {
  if (!value) return 0;
  if (value->is_number_unsigned()) {
    if (value->get<uint64_t>() > INT64_MAX) throw EUpdateJsonError(std::string("\"") + key + "\" is too large");
    return static_cast<int64_t>(value->get<uint64_t>());
  }
  if (value->is_number_integer()) return value->get<int64_t>();
  if (!value->is_number_float()) WrongType(key, "number");
  const double rounded = std::round(value->get<double>());
  if (!(rounded >= -9.2e18 && rounded <= 9.2e18)) throw EUpdateJsonError(std::string("\"") + key + "\" is too large");
  return static_cast<int64_t>(rounded);
}

bool FlagOf(const TJsonValue* value, const char* key) {
  if (!value) return false;
  if (!value->is_boolean()) WrongType(key, "boolean");
  return value->get<bool>();
}

const TJsonValue* Field(const TManifestFields& fields, TManifestKey key) {
  const auto index = static_cast<size_t>(key);
  return fields.present[index] ? &fields.values[index] : nullptr;
}

}  // namespace

std::string JsonText(const TJsonValue& object, const char* key) { return TextOf(Member(object, key), key); }

int64_t JsonInteger(const TJsonValue& object, const char* key) { return IntegerOf(Member(object, key), key); }

bool JsonFlag(const TJsonValue& object, const char* key) { return FlagOf(Member(object, key), key); }

const char* const ManifestKeyNames[ManifestKeyCount] = {"File", "isLauncher", "Need",    "Hash",     "Size",
                                                         "IsZip", "Sha256",     "ZipHash", "ZipSha256"};

// The keys are read in this order, so the first wrong one names the error.
TManifestEntry ReadManifestEntry(const TManifestFields& fields) {
  if (!fields.isObject) NotAnObject("File");
  TManifestEntry entry;
  entry.File = Utf8ToCp936(TextOf(Field(fields, TManifestKey::File), "File"));
  entry.isLauncher = IntegerOf(Field(fields, TManifestKey::isLauncher), "isLauncher") != 0 ? 1 : 0;
  entry.Need = FlagOf(Field(fields, TManifestKey::Need), "Need");
  entry.Hash = TextOf(Field(fields, TManifestKey::Hash), "Hash");
  const int64_t size = IntegerOf(Field(fields, TManifestKey::Size), "Size");
  // A size that does not fit would turn negative and corrupt the byte counts.
  if (size < INT32_MIN || size > INT32_MAX) throw EUpdateJsonError("\"Size\" does not fit 32 bits");
  entry.Size = static_cast<int32_t>(size);
  entry.IsZip = FlagOf(Field(fields, TManifestKey::IsZip), "IsZip");
  entry.Sha256 = TextOf(Field(fields, TManifestKey::Sha256), "Sha256");
  entry.ZipHash = TextOf(Field(fields, TManifestKey::ZipHash), "ZipHash");
  entry.ZipSha256 = TextOf(Field(fields, TManifestKey::ZipSha256), "ZipSha256");
  return entry;
}

TManifestEntry ReadManifestEntry(const TJsonValue& element) {
  TManifestFields fields;
  fields.isObject = element.is_object();
  if (fields.isObject)
    for (size_t k = 0; k < ManifestKeyCount; ++k) {
      const auto found = element.find(ManifestKeyNames[k]);
      if (found == element.end()) continue;
      fields.present[k] = true;
      fields.values[k] = *found;
    }
  return ReadManifestEntry(fields);
}

bool IsAcceptedManifest(const TJsonValue& document) {
  if (!document.is_array() || document.empty()) return false;
  return !JsonText(document.front(), "File").empty();
}

bool IsAcceptedFirstElement(const TManifestFields& first) {
  if (!first.isObject) NotAnObject("File");
  return !TextOf(Field(first, TManifestKey::File), "File").empty();
}

bool ReadReleaseDocument(const std::string& body, TReleaseDocument& release) {
  TJsonValue document;
  if (!ParseUpdateJson(body, document)) return false;
  if (!document.is_object()) throw EUpdateJsonError("the release document is not an object");
  release.File = Utf8ToCp936(JsonText(document, "File"));
  release.isLauncher = JsonInteger(document, "isLauncher") != 0 ? 1 : 0;
  release.MD5 = JsonText(document, "MD5");
  release.Size = JsonInteger(document, "Size");
  release.Sha256 = JsonText(document, "Sha256");
  if (!IsSafeRelativePath(release.File)) {
    LogError("release file rejected: \"" + release.File + "\"");
    return false;
  }
  return true;
}

bool SameDigestIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool IsSafeRelativePath(const std::string& path) {
  if (path.empty() || path[0] == '\\' || path[0] == '/') return false;
  for (size_t i = 0; i < path.size(); i = NextCharIndex(path, i))
    if (path[i] == ':' || path[i] == '\0') return false;
  // "..", a component of dots only and a device name all count as reserved.
  return !HasReservedComponent(path);
}
