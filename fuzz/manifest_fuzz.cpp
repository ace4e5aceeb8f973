// Manifest and release documents: parse, accept, read every element and the
// release fields. Wrong types raise EUpdateJsonError and nothing else. A
// file name that passes the path check stays below the update folder once
// it is a path of this system: no component climbs above where it starts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/NativePath.h"
#include "update/Manifest.h"

namespace {

void CheckStaysInside(const std::string& file) {
  if (!IsSafeRelativePath(file)) return;
  const std::string native = NativePath(file);
  if (native.empty() || native[0] == '/') std::abort();
  int depth = 0;
  size_t start = 0;
  while (start <= native.size()) {
    size_t end = native.find('/', start);
    if (end == std::string::npos) end = native.size();
    const std::string part = native.substr(start, end - start);
    if (part == "..") --depth;
    else if (!part.empty() && part != ".") ++depth;
    if (depth < 0 || part.find('\0') != std::string::npos) std::abort();
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TJsonValue document;
  if (ParseUpdateJson(text, document)) {
    try {
      IsAcceptedManifest(document);
    } catch (const EUpdateJsonError&) {
    }
    if (document.is_array())
      for (const TJsonValue& element : document) {
        try {
          const TManifestEntry entry = ReadManifestEntry(element);
          CheckStaysInside(entry.File);
        } catch (const EUpdateJsonError&) {
        }
      }
  }
  try {
    TReleaseDocument release;
    if (ReadReleaseDocument(text, release)) CheckStaysInside(release.File);
  } catch (const EUpdateJsonError&) {
  }
  return 0;
}
