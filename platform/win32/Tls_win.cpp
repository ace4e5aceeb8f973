// TLS through SSPI/SChannel. The handshake runs with manual certificate
// validation: Wine's SChannel accepts every certificate during the
// handshake, and its SSL policy check passes a chain that ends at an
// untrusted leaf, so the chain is built here afterwards, any error status
// of it refused (revocation unknown/offline aside: most certificates name no
// reachable revocation list), then the SSL policy checked with the host name.
//
// Records may arrive split across reads or several in one read: bytes that
// SChannel did not use (SECBUFFER_EXTRA) stay at the front of the input,
// and the socket is read only when a call asks for more.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <winsock2.h>
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/Tick.h"
#include "platform/Tls.h"

namespace {

// Input of one record or handshake flight at most: a record is at most
// 16 KiB plus its overhead; a certificate chain may take several records.
constexpr size_t MaxInput = 64 * 1024;
// The content type of an alert record (the record header's first byte).
constexpr unsigned char AlertRecord = 21;

// The one credential of the process: sessions made with it can resume.
class TCredentials {
public:
  TCredentials() {
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;
    SCH_CREDENTIALS credentials{};
    credentials.dwVersion = SCH_CREDENTIALS_VERSION;
    credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    credentials.cTlsParameters = 1;
    credentials.pTlsParameters = &parameters;
    FValid = Acquire(&credentials);
    if (!FValid) {
      // Systems before SCH_CREDENTIALS take the older structure.
      SCHANNEL_CRED old{};
      old.dwVersion = SCHANNEL_CRED_VERSION;
      old.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
      old.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
      FValid = Acquire(&old);
    }
  }
  ~TCredentials() {
    if (FValid) FreeCredentialsHandle(&FHandle);
  }
  CredHandle* Handle() { return FValid ? &FHandle : nullptr; }

private:
  bool Acquire(void* data) {
    TimeStamp expiry;
    return AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, data,
                                     nullptr, nullptr, &FHandle, &expiry) == SEC_E_OK;
  }
  CredHandle FHandle{};
  bool FValid = false;
};

CredHandle* SharedCredentials() {
  static TCredentials credentials;
  return credentials.Handle();
}

struct TCertificate {
  PCCERT_CONTEXT Context = nullptr;
  ~TCertificate() {
    if (Context) CertFreeCertificateContext(Context);
  }
};

struct TChain {
  PCCERT_CHAIN_CONTEXT Context = nullptr;
  ~TChain() {
    if (Context) CertFreeCertificateChain(Context);
  }
};

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

class TSchannelSession : public TTlsSession {
public:
  ~TSchannelSession() override {
    if (FHaveContext) DeleteSecurityContext(&FContext);
  }
  bool Handshake(TSocketHandle socket, const std::string& serverName, int timeoutMs) override;
  bool Send(const void* data, int length) override;
  int Receive(void* buffer, int length) override;
  bool HasBuffered() const override { return FPlainStart < FPlain.size() || FInLength > 0; }

private:
  // The token loop; `initial` is the first call (no context yet).
  SECURITY_STATUS HandshakeLoop(bool initial, uint32_t deadline);
  bool CheckCertificate();
  bool SendAll(const char* data, size_t length);
  // Reads more input: within the deadline when one is given. False when the
  // input is full, the socket failed or the peer closed.
  bool ReadMore(uint32_t deadline, bool bounded);
  // Keeps the `extra` last bytes of the input for the next call.
  void KeepExtra(unsigned long extra);

  TSocketHandle FSocket = InvalidSocket;
  std::string FServerName;
  CtxtHandle FContext{};
  bool FHaveContext = false;
  bool FTls13 = false;
  SecPkgContext_StreamSizes FSizes{};
  std::vector<char> FInput = std::vector<char>(MaxInput);
  size_t FInLength = 0;
  std::vector<char> FPlain;
  size_t FPlainStart = 0;
};

void TSchannelSession::KeepExtra(unsigned long extra) {
  if (extra > 0 && extra <= FInLength) {
    std::memmove(FInput.data(), FInput.data() + FInLength - extra, extra);
    FInLength = extra;
  } else {
    FInLength = 0;
  }
}

bool TSchannelSession::ReadMore(uint32_t deadline, bool bounded) {
  if (FInLength >= FInput.size()) {
    SocketSetLastError(SocketErrorNoBuffers);
    return false;
  }
  if (bounded) {
    const int left = static_cast<int>(deadline - GetTickCount32());
    if (left <= 0 || SocketWaitReadable(FSocket, left) != 1) {
      SocketSetLastError(SocketErrorTimedOut);
      return false;
    }
  }
  const int received = SocketRecv(FSocket, FInput.data() + FInLength, static_cast<int>(FInput.size() - FInLength));
  if (received < 0) return false;
  if (received == 0) {
    // The stream ended without close_notify, maybe inside a record.
    SocketSetLastError(SocketErrorConnectionAborted);
    return false;
  }
  FInLength += static_cast<size_t>(received);
  return true;
}

bool TSchannelSession::SendAll(const char* data, size_t length) {
  while (length > 0) {
    const int sent = SocketSend(FSocket, data, static_cast<int>(std::min<size_t>(length, 65536)));
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

SECURITY_STATUS TSchannelSession::HandshakeLoop(bool initial, uint32_t deadline) {
  const unsigned long flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                              ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                              ISC_REQ_MANUAL_CRED_VALIDATION;
  bool needInput = !initial && FInLength == 0;
  for (;;) {
    if (needInput && !ReadMore(deadline, true)) return SEC_E_INTERNAL_ERROR;
    needInput = false;
    // Wine wants the second input buffer, of type EMPTY; it comes back as
    // EXTRA when bytes of the next message were already there.
    SecBuffer input[2] = {{static_cast<unsigned long>(FInLength), SECBUFFER_TOKEN, FInput.data()},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inputDesc = {SECBUFFER_VERSION, 2, input};
    SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outputDesc = {SECBUFFER_VERSION, 1, output};
    unsigned long attributes = 0;
    TimeStamp expiry;
    const SECURITY_STATUS status = InitializeSecurityContextA(
        SharedCredentials(), initial ? nullptr : &FContext, const_cast<char*>(FServerName.c_str()), flags, 0, 0,
        initial ? nullptr : &inputDesc, 0, initial ? &FContext : nullptr, &outputDesc, &attributes, &expiry);
    if (initial) {
      FHaveContext = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK;
      initial = false;
    }
    // The token goes out even when the call failed (it may be an alert).
    if (output[0].pvBuffer != nullptr) {
      const bool sent = SendAll(static_cast<const char*>(output[0].pvBuffer), output[0].cbBuffer);
      FreeContextBuffer(output[0].pvBuffer);
      if (!sent) return SEC_E_INTERNAL_ERROR;
    }
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      needInput = true;
      continue;
    }
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return status;
    KeepExtra(input[1].BufferType == SECBUFFER_EXTRA ? input[1].cbBuffer : 0);
    if (status == SEC_E_OK) return status;
    needInput = FInLength == 0;
  }
}

bool TSchannelSession::Handshake(TSocketHandle socket, const std::string& serverName, int timeoutMs) {
  FSocket = socket;
  FServerName = serverName;
  if (SharedCredentials() == nullptr) {
    Refuse(TTlsRefusal::Handshake, serverName, "no SChannel credentials");
    return false;
  }
  const uint32_t deadline = GetTickCount32() + static_cast<uint32_t>(timeoutMs);
  const SECURITY_STATUS status = HandshakeLoop(true, deadline);
  if (status != SEC_E_OK) {
    Refuse(TTlsRefusal::Handshake, serverName,
           status == SEC_E_INTERNAL_ERROR ? "connection failed or timed out" : "status " + Hex(status));
    return false;
  }
  if (QueryContextAttributesA(&FContext, SECPKG_ATTR_STREAM_SIZES, &FSizes) != SEC_E_OK) {
    Refuse(TTlsRefusal::Handshake, serverName, "no stream sizes");
    return false;
  }
  SecPkgContext_ConnectionInfo info{};
  if (QueryContextAttributesA(&FContext, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK)
    FTls13 = (info.dwProtocol & SP_PROT_TLS1_3_CLIENT) != 0;
  return CheckCertificate();
}

bool TSchannelSession::CheckCertificate() {
  TCertificate certificate;
  if (QueryContextAttributesA(&FContext, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate.Context) != SEC_E_OK ||
      certificate.Context == nullptr) {
    Refuse(TTlsRefusal::BadCertificate, FServerName, "the server sent no certificate");
    return false;
  }
  char subject[512] = "";
  CertNameToStrA(X509_ASN_ENCODING, &certificate.Context->pCertInfo->Subject, CERT_X500_NAME_STR, subject,
                 sizeof subject);
  FSubject = subject;

  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {serverAuth};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  TChain chain;
  if (!CertGetCertificateChain(nullptr, certificate.Context, nullptr, certificate.Context->hCertStore, &chainPara, 0,
                               nullptr, &chain.Context)) {
    Refuse(TTlsRefusal::BadCertificate, FServerName, "no chain: " + Hex(GetLastError()));
    return false;
  }
  const DWORD chainStatus = chain.Context->TrustStatus.dwErrorStatus &
                            ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  if (chainStatus != 0) {
    TTlsRefusal refusal = TTlsRefusal::BadCertificate;
    if (chainStatus & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
      refusal = TTlsRefusal::UntrustedRoot;
    } else if (chainStatus & CERT_TRUST_IS_NOT_TIME_VALID) {
      FILETIME now;
      GetSystemTimeAsFileTime(&now);
      refusal = CompareFileTime(&now, &certificate.Context->pCertInfo->NotBefore) < 0 ? TTlsRefusal::NotYetValid
                                                                                      : TTlsRefusal::Expired;
    }
    Refuse(refusal, FServerName, "chain status " + Hex(chainStatus));
    return false;
  }

  std::wstring wideName(FServerName.begin(), FServerName.end());
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara{};
  sslPara.cbSize = sizeof sslPara;
  sslPara.dwAuthType = AUTHTYPE_SERVER;
  sslPara.pwszServerName = const_cast<wchar_t*>(wideName.c_str());
  CERT_CHAIN_POLICY_PARA policyPara{};
  policyPara.cbSize = sizeof policyPara;
  policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
  policyPara.pvExtraPolicyPara = &sslPara;
  CERT_CHAIN_POLICY_STATUS policyStatus{};
  policyStatus.cbSize = sizeof policyStatus;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.Context, &policyPara, &policyStatus)) {
    Refuse(TTlsRefusal::BadCertificate, FServerName, "policy check failed: " + Hex(GetLastError()));
    return false;
  }
  switch (static_cast<unsigned long>(policyStatus.dwError)) {
    case 0: return true;
    case static_cast<unsigned long>(CERT_E_CN_NO_MATCH):
      Refuse(TTlsRefusal::NameMismatch, FServerName, "");
      return false;
    case static_cast<unsigned long>(CERT_E_EXPIRED):
      Refuse(TTlsRefusal::Expired, FServerName, "");
      return false;
    case static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT):
    case static_cast<unsigned long>(CERT_E_CHAINING):
      Refuse(TTlsRefusal::UntrustedRoot, FServerName, "");
      return false;
    default:
      Refuse(TTlsRefusal::BadCertificate, FServerName, "policy status " + Hex(policyStatus.dwError));
      return false;
  }
}

bool TSchannelSession::Send(const void* data, int length) {
  if (!FHaveContext) return false;
  const char* bytes = static_cast<const char*>(data);
  std::vector<char> record(FSizes.cbHeader + FSizes.cbMaximumMessage + FSizes.cbTrailer);
  while (length > 0) {
    const unsigned long piece = std::min<unsigned long>(static_cast<unsigned long>(length), FSizes.cbMaximumMessage);
    std::memcpy(record.data() + FSizes.cbHeader, bytes, piece);
    SecBuffer buffers[4] = {{FSizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                            {piece, SECBUFFER_DATA, record.data() + FSizes.cbHeader},
                            {FSizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + FSizes.cbHeader + piece},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
    if (EncryptMessage(&FContext, 0, &desc, 0) != SEC_E_OK) {
      SocketSetLastError(SocketErrorConnectionAborted);
      return false;
    }
    if (!SendAll(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer)) return false;
    bytes += piece;
    length -= static_cast<int>(piece);
  }
  return true;
}

int TSchannelSession::Receive(void* buffer, int length) {
  if (!FHaveContext) return -1;
  while (FPlainStart >= FPlain.size()) {
    FPlain.clear();
    FPlainStart = 0;
    if (FInLength == 0 && !ReadMore(0, false)) return -1;
    SecBuffer buffers[4] = {{static_cast<unsigned long>(FInLength), SECBUFFER_DATA, FInput.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
    const bool alert = static_cast<unsigned char>(FInput[0]) == AlertRecord;
    const SECURITY_STATUS status = DecryptMessage(&FContext, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      if (!ReadMore(0, false)) return -1;
      continue;
    }
    if (status == SEC_I_CONTEXT_EXPIRED) return 0;  // close_notify
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
      SocketSetLastError(SocketErrorConnectionAborted);
      return -1;
    }
    unsigned long extra = 0;
    for (const SecBuffer& piece : buffers) {
      if (piece.BufferType == SECBUFFER_DATA && piece.cbBuffer > 0) {
        const char* plain = static_cast<const char*>(piece.pvBuffer);
        FPlain.assign(plain, plain + piece.cbBuffer);
      } else if (piece.BufferType == SECBUFFER_EXTRA) {
        extra = piece.cbBuffer;
      }
    }
    KeepExtra(extra);
    // Wine's SChannel takes the close_notify alert as a record without data
    // instead of SEC_I_CONTEXT_EXPIRED. (TLS 1.2 shows the record type.)
    if (status == SEC_E_OK && alert && FPlain.empty()) return 0;
    if (status == SEC_I_RENEGOTIATE) {
      // TLS 1.3 sends its session tickets and key updates this way; a
      // renegotiation of TLS 1.2 is refused.
      if (!FTls13 || HandshakeLoop(false, GetTickCount32() + HandshakeTimeoutMs) != SEC_E_OK) {
        SocketSetLastError(SocketErrorConnectionAborted);
        return -1;
      }
    }
  }
  const size_t count = std::min<size_t>(static_cast<size_t>(length), FPlain.size() - FPlainStart);
  std::memcpy(buffer, FPlain.data() + FPlainStart, count);
  FPlainStart += count;
  return static_cast<int>(count);
}

}  // namespace

std::unique_ptr<TTlsSession> TTlsSession::Create() { return std::make_unique<TSchannelSession>(); }

// The Windows build trusts what the system's stores trust.
bool TlsTrustCaFile(const std::string&) { return false; }
