#include "platform/Tls.h"

#include <atomic>

namespace {
std::atomic<int> CertificateRefusals{0};
}

const char* TlsRefusalName(TTlsRefusal refusal) {
  switch (refusal) {
    case TTlsRefusal::None: return "none";
    case TTlsRefusal::Handshake: return "handshake failed";
    case TTlsRefusal::UntrustedRoot: return "untrusted root";
    case TTlsRefusal::NameMismatch: return "name mismatch";
    case TTlsRefusal::Expired: return "expired";
    case TTlsRefusal::NotYetValid: return "not yet valid";
    case TTlsRefusal::BadCertificate: return "bad certificate";
  }
  return "unknown";
}

bool IsCertificateRefusal(TTlsRefusal refusal) {
  return refusal != TTlsRefusal::None && refusal != TTlsRefusal::Handshake;
}

int TlsCertificateRefusals() { return CertificateRefusals.load(); }

void TTlsSession::Refuse(TTlsRefusal refusal, const std::string& host, const std::string& detail) {
  FRefusal = refusal;
  if (IsCertificateRefusal(refusal)) {
    ++CertificateRefusals;
    FFailureText = std::string("certificate refused (") + TlsRefusalName(refusal) + ") for host " + host +
                   ", subject \"" + FSubject + "\"";
    if (!detail.empty()) FFailureText += ": " + detail;
  } else {
    FFailureText = "TLS handshake with " + host + " failed";
    if (!detail.empty()) FFailureText += ": " + detail;
  }
}
