// How a manifest names the chunk index of a file: three scalar keys of the
// file's element (a launcher that does not know them skips them):
//   "ChunkIndex"      string  the index's path below the base URL, written
//                             like "File" (FILE + ".chunks")
//   "ChunkIndexSize"  number  its size in bytes
//   "ChunkIndexMD5"   string  its MD5, 32 lowercase hexadecimal digits
//   "ChunkIndexSha256" string its SHA-256, 64 lowercase hexadecimal digits
//                             (added by launcher-manifest; a signed run
//                             takes no index without it)
// The index is taken only when it has exactly that size and digests, so a
// signed manifest covers it.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "update/manifest/ManifestReader.h"

constexpr const char* ChunkIndexKey = "ChunkIndex";
constexpr const char* ChunkIndexSizeKey = "ChunkIndexSize";
constexpr const char* ChunkIndexMd5Key = "ChunkIndexMD5";
constexpr const char* ChunkIndexSha256Key = "ChunkIndexSha256";
constexpr const char* ChunkIndexSuffix = ".chunks";

struct TChunkIndexRef {
  std::string Name;  // code page 936, like File
  int64_t Size = 0;
  std::string Md5;
  std::string Sha256;  // empty when the manifest gives none
};

// The chunk indexes a manifest names, by File (code page 936). Elements
// whose first three keys are not all present with their types, or whose index
// name would leave the update folder, are left out: their files travel
// whole. False when the document does not parse as an array.
bool ReadChunkIndexRefs(const TByteSource& source, std::map<std::string, TChunkIndexRef>& refs);
