// The update server's documents: the manifest (update.json, updateL.json),
// a JSON array with one object per file, and the release document
// (complete/release.json), one object naming the full package.
#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

using TJsonValue = nlohmann::json;

// A document value of another JSON type than its key requires. It ends the
// update run.
class EUpdateJsonError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Parses a document, skipping a UTF-8 byte-order mark. False when it does not
// parse (the value is then null).
bool ParseUpdateJson(const std::string& bytes, TJsonValue& value);

// Typed reads of one key of an object. A missing key reads as "", 0 or
// false; a key of another type throws EUpdateJsonError. Numbers are rounded
// to the nearest integer.
std::string JsonText(const TJsonValue& object, const char* key);
int64_t JsonInteger(const TJsonValue& object, const char* key);
bool JsonFlag(const TJsonValue& object, const char* key);

// One manifest element. Texts are code page 936 (the document is UTF-8).
struct TManifestEntry {
  std::string File;
  int isLauncher = 0;
  bool Need = false;
  std::string Hash;
  int32_t Size = 0;
  bool IsZip = false;
  // Added by launcher-manifest; empty when the element has none. SHA-256
  // of the file as it ends up on disk (64 lowercase hexadecimal digits),
  // and of a zipped entry's archive its MD5 and SHA-256.
  std::string Sha256;
  std::string ZipHash;
  std::string ZipSha256;
};

// The keys of a manifest element that the launcher reads: the six every
// manifest has and the three digests launcher-manifest adds.
enum class TManifestKey { File, isLauncher, Need, Hash, Size, IsZip, Sha256, ZipHash, ZipSha256 };
constexpr size_t ManifestKeyCount = 9;
extern const char* const ManifestKeyNames[ManifestKeyCount];

// What an element holds under those keys (the last value where a key is
// repeated, as in the document tree); other keys are not kept. A value that
// is an array or object is kept as an empty one of its kind: any of the
// keys refuses it by its type alone.
struct TManifestFields {
  bool isObject = false;
  bool present[ManifestKeyCount] = {};
  TJsonValue values[ManifestKeyCount];
};

// Throws EUpdateJsonError when the element is not an object, a key has the
// wrong type, or Size does not fit a signed 32-bit integer.
TManifestEntry ReadManifestEntry(const TJsonValue& element);
TManifestEntry ReadManifestEntry(const TManifestFields& fields);

// A fetched manifest is taken only when it is an array with at least one
// element whose first File is a non-empty string. A first element that is
// not an object throws EUpdateJsonError.
bool IsAcceptedManifest(const TJsonValue& document);
// The same rule on the first element alone, once the whole document is known
// to parse as a non-empty array.
bool IsAcceptedFirstElement(const TManifestFields& first);

struct TReleaseDocument {
  std::string File;
  int isLauncher = 0;
  std::string MD5;
  int64_t Size = 0;
  std::string Sha256;  // the package's SHA-256, added by launcher-manifest; may be empty
};

// False when the body does not parse, or its File is empty or would leave the
// launcher folder (logged); throws EUpdateJsonError when it parses to
// something other than an object or a key has the wrong type.
bool ReadReleaseDocument(const std::string& body, TReleaseDocument& release);

// The release document's MD5 is compared ignoring case.
bool SameDigestIgnoringCase(const std::string& a, const std::string& b);

// True for a relative path that stays inside the folder it is joined to and
// names a file there on every platform: not empty, no leading separator, no
// drive letter or other colon, and no reserved component (HasReservedComponent:
// "..", a component ending in a dot or a blank, a device name).
bool IsSafeRelativePath(const std::string& path);
