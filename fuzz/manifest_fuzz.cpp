// Manifest and release documents: parse, accept, read every element and the
// release fields. Wrong types raise EUpdateJsonError and nothing else.
#include <cstdint>
#include <string>

#include "update/Manifest.h"

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
          IsSafeRelativePath(entry.File);
        } catch (const EUpdateJsonError&) {
        }
      }
  }
  try {
    TReleaseDocument release;
    ReadReleaseDocument(text, release);
  } catch (const EUpdateJsonError&) {
  }
  return 0;
}
