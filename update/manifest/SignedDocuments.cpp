#include "update/manifest/SignedDocuments.h"

#include "common/Format.h"
#include "update/run/UpdateTexts.h"

std::string ReleaseSignatureName(const std::string& manifestName) {
  return manifestName == "update.json" ? std::string(ReleaseDocumentName)
                                       : manifestName + ":" + ReleaseDocumentName;
}

TSignatureVerdict CheckFetchedSignature(const std::string& document, const std::string& bytes,
                                        const TFetchedSignature& signature, const TPublicKey& key, int64_t now,
                                        uint64_t highestAccepted, uint64_t& version) {
  if (signature.unusable) return TSignatureVerdict::Malformed;
  const TSignedDocument signedDocument{document, bytes, signature.served ? &signature.text : nullptr};
  return CheckSignedDocument(signedDocument, key, now, highestAccepted, version);
}

std::string RefusedStatus(TSignatureVerdict verdict, const std::string& document) {
  const char* text = UpdateText::SignatureBad;
  switch (verdict) {
    case TSignatureVerdict::Missing: text = UpdateText::SignatureMissing; break;
    case TSignatureVerdict::Malformed: text = UpdateText::SignatureMalformed; break;
    case TSignatureVerdict::BadSignature: text = UpdateText::SignatureBad; break;
    case TSignatureVerdict::WrongDocument: text = UpdateText::SignatureWrongDocument; break;
    case TSignatureVerdict::Changed: text = UpdateText::SignatureChanged; break;
    case TSignatureVerdict::Expired: text = UpdateText::SignatureExpired; break;
    case TSignatureVerdict::Rollback: text = UpdateText::SignatureRollback; break;
    case TSignatureVerdict::Accepted: break;
  }
  return Format(text, document.c_str());
}

const char* VerdictName(TSignatureVerdict verdict) {
  switch (verdict) {
    case TSignatureVerdict::Accepted: return "Accepted";
    case TSignatureVerdict::Missing: return "Missing";
    case TSignatureVerdict::Malformed: return "Malformed";
    case TSignatureVerdict::BadSignature: return "BadSignature";
    case TSignatureVerdict::WrongDocument: return "WrongDocument";
    case TSignatureVerdict::Changed: return "Changed";
    case TSignatureVerdict::Expired: return "Expired";
    case TSignatureVerdict::Rollback: return "Rollback";
  }
  return "Unknown";
}
