#include <gtest/gtest.h>

#include "signing/Crypto.h"
#include "signing/SigningVectors.h"
#include "signing/TextCodec.h"

namespace {

std::string Sha256Hex(std::string_view bytes) {
  TSha256 digest{};
  EXPECT_TRUE(Sha256(bytes, digest));
  return HexLower(digest.data(), digest.size());
}

}  // namespace

TEST(Crypto, Sha256KnownAnswers) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Signatures that the openssl command line made: the Windows build checks CNG
// against them, the native build OpenSSL itself.
TEST(Crypto, VerifiesOpenSslSignaturesOfTheVectors) {
  const TPublicKey key = VectorKey();
  for (const char* document : {"update.json", "updateL.json", "complete/release.json"}) {
    const TReleaseSignature sig = VectorSignature(document);
    EXPECT_EQ(sig.document, document);
    EXPECT_TRUE(VerifyP256(key, SignedText(sig), sig.signature)) << document;
  }
}

TEST(Crypto, RefusesEveryChangeToKeyMessageOrSignature) {
  const TPublicKey key = VectorKey();
  const TReleaseSignature sig = VectorSignature("update.json");
  const std::string text = SignedText(sig);
  ASSERT_TRUE(VerifyP256(key, text, sig.signature));

  EXPECT_FALSE(VerifyP256(VectorKey("other-public.txt"), text, sig.signature)) << "another key";
  std::string changedText = text;
  changedText[text.find("version ") + 8] ^= 1;
  EXPECT_FALSE(VerifyP256(key, changedText, sig.signature)) << "changed message";
  EXPECT_FALSE(VerifyP256(key, text + "\n", sig.signature)) << "longer message";
  for (const size_t at : {size_t{0}, size_t{31}, size_t{32}, size_t{63}}) {
    TRawSignature changed = sig.signature;
    changed[at] ^= 0x01;
    EXPECT_FALSE(VerifyP256(key, text, changed)) << "signature byte " << at;
  }
  // r and s swapped, zero and all-ones values are no signatures.
  TRawSignature swapped;
  std::copy(sig.signature.begin() + 32, sig.signature.end(), swapped.begin());
  std::copy(sig.signature.begin(), sig.signature.begin() + 32, swapped.begin() + 32);
  EXPECT_FALSE(VerifyP256(key, text, swapped));
  TRawSignature zero{};
  EXPECT_FALSE(VerifyP256(key, text, zero));
  TRawSignature ones;
  ones.fill(0xFF);
  EXPECT_FALSE(VerifyP256(key, text, ones));
}

TEST(Crypto, KeysOffTheCurveVerifyNothing) {
  const TReleaseSignature sig = VectorSignature("update.json");
  TPublicKey offCurve = VectorKey();
  offCurve[64] ^= 0x01;  // Y no longer fits X
  EXPECT_FALSE(VerifyP256(offCurve, SignedText(sig), sig.signature));
  TPublicKey zero{};
  zero[0] = 0x04;
  EXPECT_FALSE(VerifyP256(zero, SignedText(sig), sig.signature));
}
