// TLS through OpenSSL. The session reads and writes the socket through a
// BIO of our own over the platform's socket calls (no signal on a closed
// peer, Winsock codes), so the handshake can run non-blocking against its
// time bound. OpenSSL checks the chain and the host name during the
// handshake without stopping it; the result is judged afterwards.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>

#include "platform/Tick.h"
#include "platform/Tls.h"

namespace {

struct TSslFree { void operator()(SSL* p) const { SSL_free(p); } };
struct TSessionFree { void operator()(SSL_SESSION* p) const { SSL_SESSION_free(p); } };
using TSsl = std::unique_ptr<SSL, TSslFree>;
using TSslSession = std::unique_ptr<SSL_SESSION, TSessionFree>;

// The BIO over a TSocketHandle kept in the BIO's data pointer.
TSocketHandle BioSocket(BIO* bio) { return reinterpret_cast<TSocketHandle>(BIO_get_data(bio)); }

int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  const int sent = SocketSend(BioSocket(bio), data, length);
  if (sent < 0 && SocketLastError() == SocketErrorWouldBlock) BIO_set_retry_write(bio);
  return sent;
}

int BioRead(BIO* bio, char* buffer, int length) {
  BIO_clear_retry_flags(bio);
  const int received = SocketRecv(BioSocket(bio), buffer, length);
  if (received < 0 && SocketLastError() == SocketErrorWouldBlock) BIO_set_retry_read(bio);
  return received;
}

long BioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

// Everything the sessions of the process share: the context with its trust
// store and the session cache for resumption (by "host:port").
class TTlsShared {
public:
  static TTlsShared& Get() {
    static TTlsShared shared;
    return shared;
  }
  SSL_CTX* Context() const { return FContext; }
  BIO_METHOD* Method() const { return FMethod; }

  bool TrustCaFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(FLock);
    return SSL_CTX_load_verify_locations(FContext, path.c_str(), nullptr) == 1;
  }
  TSslSession TakeSession(const std::string& key) {
    std::lock_guard<std::mutex> guard(FLock);
    auto found = FSessions.find(key);
    if (found == FSessions.end()) return nullptr;
    TSslSession session = std::move(found->second);
    FSessions.erase(found);
    return session;
  }
  void KeepSession(const std::string& key, SSL_SESSION* session) {
    std::lock_guard<std::mutex> guard(FLock);
    if (FSessions.size() >= MaxSessions && FSessions.find(key) == FSessions.end()) return;
    FSessions[key].reset(session);
  }

private:
  static constexpr size_t MaxSessions = 64;

  TTlsShared() {
    FContext = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(FContext, TLS1_2_VERSION);
    SSL_CTX_set_options(FContext, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_default_verify_paths(FContext);
    SSL_CTX_set_verify(FContext, SSL_VERIFY_NONE, nullptr);
    // Several records per socket read on large bodies; HasBuffered counts
    // what was read ahead, so no wait blocks on bytes already here.
    SSL_CTX_set_read_ahead(FContext, 1);
    SSL_CTX_set_default_read_buffer_len(FContext, 64 * 1024);
    SSL_CTX_set_session_cache_mode(FContext, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(FContext, &TTlsShared::NewSession);
    FMethod = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "launcher socket");
    BIO_meth_set_write(FMethod, BioWrite);
    BIO_meth_set_read(FMethod, BioRead);
    BIO_meth_set_ctrl(FMethod, BioControl);
    BIO_meth_set_create(FMethod, [](BIO* bio) { BIO_set_init(bio, 1); return 1; });
  }
  ~TTlsShared() {
    FSessions.clear();
    SSL_CTX_free(FContext);
    BIO_meth_free(FMethod);
  }
  // Sessions arrive during or (TLS 1.3) after the handshake; the SSL's app
  // data names the server. Taking the reference returns 1.
  static int NewSession(SSL* ssl, SSL_SESSION* session) {
    const auto* key = static_cast<const std::string*>(SSL_get_app_data(ssl));
    if (key == nullptr) return 0;
    Get().KeepSession(*key, session);
    return 1;
  }

  SSL_CTX* FContext = nullptr;
  BIO_METHOD* FMethod = nullptr;
  std::mutex FLock;
  std::map<std::string, TSslSession> FSessions;
};

TTlsRefusal RefusalOf(long verifyResult) {
  switch (verifyResult) {
    case X509_V_OK: return TTlsRefusal::None;
    case X509_V_ERR_CERT_HAS_EXPIRED: return TTlsRefusal::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID: return TTlsRefusal::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH: return TTlsRefusal::NameMismatch;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return TTlsRefusal::UntrustedRoot;
    default: return TTlsRefusal::BadCertificate;
  }
}

std::string OpenSslErrors() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(code, line, sizeof line);
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text;
}

class TOpenSslSession : public TTlsSession {
public:
  bool Handshake(TSocketHandle socket, const std::string& serverName, int timeoutMs) override;
  bool Send(const void* data, int length) override;
  int Receive(void* buffer, int length) override;
  bool HasBuffered() const override { return FSsl && SSL_has_pending(FSsl.get()) == 1; }

private:
  // Waits for what OpenSSL wants after a call returned `result`; false when
  // the call failed for good or the deadline passed.
  bool WaitFor(int result, uint32_t deadline);

  TSsl FSsl;
  std::string FKey;
};

bool TOpenSslSession::WaitFor(int result, uint32_t deadline) {
  const int error = SSL_get_error(FSsl.get(), result);
  if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return false;
  const int left = static_cast<int>(deadline - GetTickCount32());
  if (left <= 0) return false;
  const TSocketHandle socket = BioSocket(SSL_get_rbio(FSsl.get()));
  const int ready = error == SSL_ERROR_WANT_READ ? SocketWaitReadable(socket, left) : SocketWaitWritable(socket, left);
  return ready == 1;
}

bool TOpenSslSession::Handshake(TSocketHandle socket, const std::string& serverName, int timeoutMs) {
  TTlsShared& shared = TTlsShared::Get();
  ERR_clear_error();
  FSsl.reset(SSL_new(shared.Context()));
  BIO* bio = FSsl ? BIO_new(shared.Method()) : nullptr;
  if (bio == nullptr) {
    Refuse(TTlsRefusal::Handshake, serverName, OpenSslErrors());
    return false;
  }
  BIO_set_data(bio, reinterpret_cast<void*>(socket));
  SSL_set_bio(FSsl.get(), bio, bio);
  TSocketAddress peer;
  SocketPeerAddress(socket, peer);
  FKey = serverName + ":" + std::to_string(peer.Port);
  SSL_set_app_data(FSsl.get(), &FKey);
  // SNI for names only: an address is no server name.
  uint32_t address = 0;
  if (!ParseIPv4(serverName, address)) SSL_set_tlsext_host_name(FSsl.get(), serverName.c_str());
  // "f*.example.com" names no host of ours: only a whole leftmost label may
  // be a wildcard.
  SSL_set_hostflags(FSsl.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (SSL_set1_host(FSsl.get(), serverName.c_str()) != 1) {
    Refuse(TTlsRefusal::Handshake, serverName, "cannot set the expected host name");
    return false;
  }
  if (TSslSession session = shared.TakeSession(FKey)) SSL_set_session(FSsl.get(), session.get());

  const uint32_t deadline = GetTickCount32() + static_cast<uint32_t>(timeoutMs);
  SocketSetNonBlocking(socket, true);
  int result;
  while ((result = SSL_connect(FSsl.get())) != 1) {
    if (!WaitFor(result, deadline)) break;
  }
  SocketSetNonBlocking(socket, false);
  if (result != 1) {
    const std::string errors = OpenSslErrors();
    Refuse(TTlsRefusal::Handshake, serverName,
           errors.empty() ? (static_cast<int>(deadline - GetTickCount32()) <= 0 ? "timed out" : "connection closed")
                          : errors);
    return false;
  }

  X509* certificate = SSL_get0_peer_certificate(FSsl.get());
  if (certificate != nullptr) {
    char subject[512] = "";
    X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject);
    FSubject = subject;
  }
  const long verified = certificate == nullptr ? X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT : SSL_get_verify_result(FSsl.get());
  const TTlsRefusal refusal = RefusalOf(verified);
  if (refusal != TTlsRefusal::None) {
    Refuse(refusal, serverName, X509_verify_cert_error_string(verified));
    return false;
  }
  return true;
}

bool TOpenSslSession::Send(const void* data, int length) {
  if (!FSsl) return false;
  ERR_clear_error();
  size_t written = 0;
  return length == 0 || (SSL_write_ex(FSsl.get(), data, static_cast<size_t>(length), &written) == 1 &&
                         written == static_cast<size_t>(length));
}

int TOpenSslSession::Receive(void* buffer, int length) {
  if (!FSsl) return -1;
  ERR_clear_error();
  SocketSetLastError(0);
  size_t read = 0;
  if (SSL_read_ex(FSsl.get(), buffer, static_cast<size_t>(length), &read) == 1) return static_cast<int>(read);
  const int error = SSL_get_error(FSsl.get(), 0);
  if (error == SSL_ERROR_ZERO_RETURN) return 0;  // close_notify
  // A close without close_notify or inside a record is a cut connection.
  if (SocketLastError() == 0) SocketSetLastError(SocketErrorConnectionAborted);
  return -1;
}

}  // namespace

std::unique_ptr<TTlsSession> TTlsSession::Create() { return std::make_unique<TOpenSslSession>(); }

bool TlsTrustCaFile(const std::string& pemPath) { return TTlsShared::Get().TrustCaFile(pemPath); }
