// What an update run with a public key asks of each document it acts on
// (the manifest, the release document): a detached signature fetched from
// beside it ("<document>.sig") that the signing check accepts. Without a key
// a run fetches no signature at all.
#pragma once
#include <cstdint>
#include <string>

#include "signing/ReleaseCheck.h"

// The release document's name below its base address, as its signature
// names it.
constexpr const char* ReleaseDocumentName = "complete/release.json";

// The name a run's release document is signed under: "complete/release.json"
// for the client run's manifest, and the launcher run's manifest name
// before it ("updateL.json:complete/release.json"), so the package of one run
// cannot be served to the other.
std::string ReleaseSignatureName(const std::string& manifestName);

// The signature file as the server answered.
struct TFetchedSignature {
  bool served = false;    // a body arrived whole; `text` holds it
  bool unusable = false;  // the server answered 200 but the body was too large or broken
  std::string text;
};

// The check of `bytes` (the document exactly as fetched) against what was
// served beside it. Nothing served is Missing; an unusable body is Malformed
// without being looked at.
TSignatureVerdict CheckFetchedSignature(const std::string& document, const std::string& bytes,
                                        const TFetchedSignature& signature, const TPublicKey& key, int64_t now,
                                        uint64_t highestAccepted, uint64_t& version);

// The status line of a refused document, code page 936.
std::string RefusedStatus(TSignatureVerdict verdict, const std::string& document);
// The verdict's name for log lines and the headless tool ("Missing", ...).
const char* VerdictName(TSignatureVerdict verdict);
