// The committed vectors of tests/data/signing, made with the openssl
// command line (make-vectors.sh there).
#pragma once
#include <cstdlib>
#include <string>

#include "signing/ReleaseSignature.h"
#include "support/TestSupport.h"

inline std::string SigningVector(const std::string& name) {
  const char* data = std::getenv("LAUNCHER_TEST_DATA");
  return ReadWholeFile(std::string(data ? data : "tests/data") + "/signing/" + name);
}

// The key of signing-key.pem, or of another key with `name` "other-public.txt".
inline TPublicKey VectorKey(const std::string& name = "public.txt") {
  std::string text = SigningVector(name);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  TPublicKey key{};
  ParsePublicKeyText(text, key);
  return key;
}

inline TReleaseSignature VectorSignature(const std::string& document) {
  TReleaseSignature sig;
  ParseSignatureFile(SigningVector(document + ".sig"), sig);
  return sig;
}
