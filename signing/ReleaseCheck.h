// Whether a fetched release document may be used: its detached signature
// must be well formed, made by the package's key, name this document, match
// its bytes, be unexpired, and not go back behind the highest release
// version accepted before.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "signing/ReleaseSignature.h"

enum class TSignatureVerdict { Accepted, Missing, Malformed, BadSignature, WrongDocument, Changed, Expired, Rollback };

struct TSignedDocument {
  std::string_view name;   // "update.json", "updateL.json", "complete/release.json"
  std::string_view bytes;  // the document exactly as served
  const std::string* signatureFile = nullptr;  // nullptr: none was served
};

// Checks in this order: Missing, Malformed, BadSignature (the signed text is
// verified before any of its fields is trusted), WrongDocument, Changed
// (SHA-256 of the bytes), Expired (now > expires), Rollback
// (version < highestAccepted). On Accepted, `version` is set.
TSignatureVerdict CheckSignedDocument(const TSignedDocument& doc, const TPublicKey& key, int64_t now,
                                      uint64_t highestAccepted, uint64_t& version);
