#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "signing/Crypto.h"
#include "signing/SigningVectors.h"
#include "signing/TextCodec.h"
#include "support/TestSupport.h"

namespace {

std::string OneShotHex(std::string_view bytes) {
  TSha256 digest{};
  EXPECT_TRUE(Sha256(bytes, digest));
  return HexLower(digest.data(), digest.size());
}

// The same input fed in pieces of 1, 7, 64, 1000, ... bytes, as a file of
// several gigabytes is fed a block at a time.
std::string StreamedHex(const std::string& bytes) {
  TSha256Stream stream;
  const size_t pieces[] = {1, 7, 64, 1000, 65536, 4096};
  for (size_t at = 0, i = 0; at < bytes.size(); ++i) {
    const size_t n = std::min(pieces[i % 6], bytes.size() - at);
    stream.Update(bytes.data() + at, n);
    at += n;
  }
  return stream.FinalHex();
}

}  // namespace

// Each vector through every way the launcher digests: at once, in pieces,
// as a file.
TEST(Crypto, Sha256KnownAnswers) {
  const std::pair<std::string, const char*> vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // More than one read block of the file digest (the value of Python's hashlib).
      {std::string(3 << 20, 'a'), "6f850bc94ae6f7de14297c01616c36d712d22864497b28a63b81d776b035e656"},
  };
  TTempFolder folder;
  for (const auto& [bytes, expected] : vectors) {
    EXPECT_EQ(OneShotHex(bytes), expected) << bytes.size();
    EXPECT_EQ(StreamedHex(bytes), expected) << bytes.size();
    EXPECT_EQ(Sha256Hex(bytes), expected) << bytes.size();
    WriteWholeFile(folder / "f", bytes);
    EXPECT_EQ(Sha256OfFile(folder / "f"), expected) << bytes.size();
    EXPECT_TRUE(IsSha256Text(expected));
  }
  EXPECT_EQ(Sha256OfFile(folder / "none"), "");
  EXPECT_EQ(Sha256OfFile(folder / "f", [] { return true; }), "") << "stopped";
  EXPECT_FALSE(IsSha256Text(std::string(64, 'A')));
  EXPECT_FALSE(IsSha256Text(std::string(63, 'a')));
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
