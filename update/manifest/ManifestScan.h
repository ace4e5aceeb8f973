// The quick path of the manifest reader. Almost every manifest is the same
// plain shape: an array of flat objects whose six keys have their proper
// types. This scanner reads that shape directly into entries, several times
// faster than the general JSON parser, and stops at the first byte it is not
// sure about (an escape \u, a fraction, a nested value, a wrong type, a
// syntax error): from that element on, the general parser reads the rest,
// and decides what the document is. What the scanner does accept, it reads
// exactly as the general parser and ReadManifestEntry would.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

#include "update/manifest/Manifest.h"

// Bytes are read from `source` into `buffer` as needed; each entry is handed
// to `entry`. Done: the whole document was read. Invalid: the array ended and
// something other than white space follows, which no parser accepts.
// Stopped: `buffer` from `rest` on, then what the source has not given yet,
// is the document from an element on (`started`: the opening bracket was
// read) or from its very start.
enum class TScanEnd { Done, Stopped, Invalid };
struct TManifestScan {
  std::string buffer;
  size_t rest = 0;
  bool started = false;  // the opening bracket was read
  size_t count = 0;      // entries handed out
};
TScanEnd ScanPlainManifest(const std::function<size_t(char*, size_t)>& source, TManifestScan& scan,
                       const std::function<void(TManifestEntry&&)>& entry);
