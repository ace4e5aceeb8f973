// Reading a manifest without its document tree. A release of a few hundred
// thousand files makes a manifest of tens of megabytes, whose tree would take
// several times that in memory; the reader keeps each element's keys
// only, as compact records, and reads the file in small chunks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "update/manifest/Manifest.h"

// A source of document bytes: fills up to `capacity` bytes of `buffer` and
// returns the count, 0 at the end. It may throw (a read error).
using TByteSource = std::function<size_t(char* buffer, size_t capacity)>;
TByteSource StringSource(const std::string& bytes);

// Hands the fields of each element of a top-level array to `element`, in
// order, while it returns true; after that the elements are only counted.
// A UTF-8 byte-order mark is skipped. False when the document does not
// parse or is not an array (the calls made are then void); `count` is the
// number of elements.
bool ReadManifestElements(const TByteSource& source, const std::function<bool(const TManifestFields&)>& element,
                          size_t& count);

// The manifest as the compare walks it.
class TManifest {
public:
  size_t Count() const { return FCount; }
  bool Empty() const { return FCount == 0; }
  // The element at `index` as ReadManifestEntry reads it, or its
  // EUpdateJsonError. Elements after the first wrong one are not kept: any of
  // them throws that first error.
  TManifestEntry Entry(size_t index) const;
  void Clear();
  // False, and empty, when the document does not parse or is not an array.
  bool Read(const TByteSource& source);

private:
  // The added digests (Sha256, ZipHash, ZipSha256), in that order.
  static constexpr size_t AddedDigests = 3;
  struct TRecord {
    const char* text;  // File, Hash, then the added digests
    uint32_t fileLength;
    uint32_t hashLength;
    int32_t size;
    uint8_t flags;
    uint8_t addedLength[AddedDigests];
  };
  bool Keep(const TManifestFields& fields);
  void KeepEntry(const TManifestEntry& entry);
  const char* Store(const std::string* texts, size_t count);

  std::deque<TRecord> FRecords;
  std::vector<std::unique_ptr<char[]>> FChunks;
  size_t FChunkUsed = 0;
  size_t FChunkSize = 0;
  size_t FCount = 0;
  size_t FErrorIndex = SIZE_MAX;
  std::string FErrorText;
};

// IsAcceptedManifest on the document's bytes, without its tree: false when
// they do not parse as a non-empty array; the first element's rule (and
// its EUpdateJsonError) as IsAcceptedFirstElement gives it.
bool IsAcceptedManifestText(const std::string& bytes);
