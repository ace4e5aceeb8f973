#include "signing/ReleaseCheck.h"

#include "signing/Crypto.h"

TSignatureVerdict CheckSignedDocument(const TSignedDocument& doc, const TPublicKey& key, int64_t now,
                                      uint64_t highestAccepted, uint64_t& version) {
  if (doc.signatureFile == nullptr) return TSignatureVerdict::Missing;
  TReleaseSignature sig;
  if (!ParseSignatureFile(*doc.signatureFile, sig)) return TSignatureVerdict::Malformed;
  // Strict parsing makes the signed text the file's own first five lines.
  if (!VerifyP256(key, SignedText(sig), sig.signature)) return TSignatureVerdict::BadSignature;
  if (sig.document != doc.name) return TSignatureVerdict::WrongDocument;
  TSha256 digest;
  // A digest that cannot be computed cannot be shown to match.
  if (!Sha256(doc.bytes, digest) || digest != sig.documentSha256) return TSignatureVerdict::Changed;
  if (now > sig.expires) return TSignatureVerdict::Expired;
  if (sig.version < highestAccepted) return TSignatureVerdict::Rollback;
  version = sig.version;
  return TSignatureVerdict::Accepted;
}
