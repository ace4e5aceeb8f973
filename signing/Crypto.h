// SHA-256 and ECDSA P-256 verification from the system's cryptography:
// OpenSSL's libcrypto natively (CryptoOpenSsl.cpp), CNG in the Windows build
// (CryptoCng.cpp). Nothing here is our own cryptography.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "signing/ReleaseSignature.h"

// False only when the library fails.
bool Sha256(std::string_view bytes, TSha256& out);

// SHA-256 of data handed over in pieces, for inputs of any size (a file of
// several gigabytes is fed a block at a time).
class TSha256Stream {
public:
  TSha256Stream();
  ~TSha256Stream();
  TSha256Stream(const TSha256Stream&) = delete;
  TSha256Stream& operator=(const TSha256Stream&) = delete;

  void Update(const void* data, size_t length);
  // Finishes the digest; false when the library failed at any step. The
  // object takes no more data afterwards.
  bool Final(TSha256& out);
  // 64 lowercase hexadecimal digits, or empty when the library failed.
  std::string FinalHex();

private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// The SHA-256 of `bytes` as 64 lowercase hexadecimal digits; empty when the
// library fails.
std::string Sha256Hex(std::string_view bytes);

// The SHA-256 of a file's bytes as 64 lowercase hexadecimal digits (an
// empty file has the digest of empty input), read in plain blocks. Empty
// when the file cannot be read, ends before the size it had when opened,
// or `stopped` said to stop between blocks.
std::string Sha256OfFile(const std::string& path, const std::function<bool()>& stopped = nullptr);

// Whether `text` is a SHA-256 as manifests write it: 64 hexadecimal digits.
bool IsSha256Text(const std::string& text);

// True when `signature` (raw r||s) is a valid ECDSA P-256 signature of
// SHA-256(message) under `key`. False for an invalid signature, a key that
// is not a point of the curve, and any library failure.
bool VerifyP256(const TPublicKey& key, std::string_view message, const TRawSignature& signature);
