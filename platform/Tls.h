// TLS on a connected TCP socket: the system's library underneath (OpenSSL
// natively, SChannel in the Windows build), one small interface above it.
//
// A session makes the handshake (TLS 1.2 at least, the server's name sent
// as SNI), then checks the server's certificate by hand: the chain up to a
// trusted root (the system's store plus any CA file given to
// TlsTrustCaFile), every chain error refused, the validity period and the
// host name. Renegotiation is refused. After that it carries the
// connection's bytes both ways.
#pragma once
#include <memory>
#include <string>

#include "platform/Socket.h"

enum class TTlsRefusal {
  None,
  Handshake,       // the handshake failed or ran out of time
  UntrustedRoot,   // the chain ends at a certificate nobody trusts (or is incomplete)
  NameMismatch,    // the certificate does not name the host
  Expired,
  NotYetValid,
  BadCertificate,  // any other chain or policy error
};

// "untrusted root", "name mismatch", "expired", "not yet valid", ...
const char* TlsRefusalName(TTlsRefusal refusal);
// True for the refusals that concern the certificate.
bool IsCertificateRefusal(TTlsRefusal refusal);

class TTlsSession {
public:
  static constexpr int HandshakeTimeoutMs = 10000;

  // A new session of the build's TLS library.
  static std::unique_ptr<TTlsSession> Create();
  virtual ~TTlsSession() = default;

  // Handshake and certificate check over `socket` (connected, blocking)
  // within `timeoutMs`. False with Refusal() and FailureText() set.
  virtual bool Handshake(TSocketHandle socket, const std::string& serverName, int timeoutMs) = 0;
  // Sends all `length` bytes; false when the connection failed.
  virtual bool Send(const void* data, int length) = 0;
  // Decrypted bytes (at most `length`), reading the socket when nothing is
  // buffered. 0 when the server ended the session with close_notify; -1 on
  // failure, and also when the stream ended without close_notify or inside
  // a record (a cut connection, never a clean end). SocketLastError() is
  // set on failure.
  virtual int Receive(void* buffer, int length) = 0;
  // Decrypted or undecrypted bytes are waiting: Receive needs no socket
  // wait before it.
  virtual bool HasBuffered() const = 0;

  TTlsRefusal Refusal() const { return FRefusal; }
  // What failed, for the log: the reason, the host and, for a certificate,
  // its subject.
  const std::string& FailureText() const { return FFailureText; }
  // The certificate's subject when the handshake got one.
  const std::string& Subject() const { return FSubject; }

protected:
  void Refuse(TTlsRefusal refusal, const std::string& host, const std::string& detail);

  TTlsRefusal FRefusal = TTlsRefusal::None;
  std::string FFailureText;
  std::string FSubject;
};

// Trusts the CA certificates of a PEM file besides the system's store, for
// every later session of the process. False when the file gives none.
// (The Windows build trusts what the system's stores trust.)
bool TlsTrustCaFile(const std::string& pemPath);
// Certificates refused by any session of the process so far.
int TlsCertificateRefusals();
