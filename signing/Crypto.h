// SHA-256 and ECDSA P-256 verification from the system's cryptography:
// OpenSSL's libcrypto natively (CryptoOpenSsl.cpp), CNG in the Windows build
// (CryptoCng.cpp). Nothing here is our own cryptography.
#pragma once
#include <string_view>

#include "signing/ReleaseSignature.h"

// False only when the library fails.
bool Sha256(std::string_view bytes, TSha256& out);

// True when `signature` (raw r||s) is a valid ECDSA P-256 signature of
// SHA-256(message) under `key`. False for an invalid signature, a key that
// is not a point of the curve, and any library failure.
bool VerifyP256(const TPublicKey& key, std::string_view message, const TRawSignature& signature);
