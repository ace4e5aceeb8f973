// Manifest and release documents: parse, accept, read every element and the
// release fields. Wrong types raise EUpdateJsonError and nothing else. The
// streaming reader must read every manifest exactly as the document tree does.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/ManifestReader.h"

namespace {

std::string Describe(const TManifestEntry& e) {
  return e.File + "|" + std::to_string(e.isLauncher) + std::to_string(e.Need) + e.Hash + "|" + std::to_string(e.Size) +
         std::to_string(e.IsZip);
}

void CompareWithReader(const std::string& text, const TJsonValue& document, bool parsed) {
  TManifest manifest;
  const bool read = manifest.Read(StringSource(text));
  if (read != (parsed && document.is_array())) std::abort();
  if (!read) return;
  if (manifest.Count() != document.size()) std::abort();
  for (size_t i = 0; i < manifest.Count(); ++i) {
    std::string tree, streamed;
    try {
      tree = Describe(ReadManifestEntry(document[i]));
    } catch (const EUpdateJsonError& error) {
      tree = std::string("error ") + error.what();
    }
    try {
      streamed = Describe(manifest.Entry(i));
    } catch (const EUpdateJsonError& error) {
      streamed = std::string("error ") + error.what();
    }
    if (tree != streamed) std::abort();
    if (tree.rfind("error ", 0) == 0) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TJsonValue document;
  const bool parsed = ParseUpdateJson(text, document);
  if (parsed) {
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
  CompareWithReader(text, document, parsed);
  try {
    IsAcceptedManifestText(text);
  } catch (const EUpdateJsonError&) {
  }
  try {
    TReleaseDocument release;
    ReadReleaseDocument(text, release);
  } catch (const EUpdateJsonError&) {
  }
  return 0;
}
