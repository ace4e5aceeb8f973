// Manifest and release documents: parse, accept, read every element and the
// release fields. Wrong types raise EUpdateJsonError and nothing else. The
// streaming reader must read every manifest exactly as the document tree does.
// A file name that passes the path check stays below the update folder once
// it is a path of this system: no component climbs above where it starts,
// and none names a device or a name Windows would change.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/NativePath.h"
#include "update/manifest/ManifestReader.h"

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


// A component of a path that passed the check, looked at on its own: never
// a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9 before any dot, in any case)
// and never one whose trailing dots or blanks Windows would drop.
bool NamesAFileOnWindows(const std::string& part) {
  if (part.empty() || part == ".") return true;
  if (part.back() == '.' || part.back() == ' ') return false;
  std::string stem = part.substr(0, part.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  for (const char* device : {"CON", "PRN", "AUX", "NUL"})
    if (stem == device) return false;
  return !(stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '1' &&
           stem[3] <= '9');
}

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
    if (!NamesAFileOnWindows(part)) std::abort();
    start = end + 1;
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
          CheckStaysInside(entry.File);
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
    if (ReadReleaseDocument(text, release)) CheckStaysInside(release.File);
  } catch (const EUpdateJsonError&) {
  }
  return 0;
}
