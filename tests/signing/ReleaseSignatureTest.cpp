#include <gtest/gtest.h>

#include "signing/ReleaseSignature.h"
#include "signing/SigningVectors.h"

namespace {

TReleaseSignature Sample() {
  TReleaseSignature sig;
  sig.document = "complete/release.json";
  sig.version = 1733580000;
  sig.expires = 1736172000;
  for (size_t i = 0; i < sig.documentSha256.size(); ++i) sig.documentSha256[i] = static_cast<uint8_t>(i * 37 + 1);
  for (size_t i = 0; i < sig.signature.size(); ++i) sig.signature[i] = static_cast<uint8_t>(255 - i * 3);
  return sig;
}

// The sample file with line `index` (0-based) replaced by `line`.
std::string WithLine(size_t index, const std::string& line) {
  std::string text = FormatSignatureFile(Sample());
  size_t begin = 0;
  for (size_t i = 0; i < index; ++i) begin = text.find('\n', begin) + 1;
  const size_t end = text.find('\n', begin);
  return text.replace(begin, end - begin, line);
}

}  // namespace

TEST(ReleaseSignature, FormatsTheSixLinesAndParsesThemBack) {
  const TReleaseSignature sig = Sample();
  const std::string text = FormatSignatureFile(sig);
  EXPECT_EQ(SignedText(sig),
            "launcher-signature 1\n"
            "document complete/release.json\n"
            "version 1733580000\n"
            "expires 1736172000\n"
            "sha256 01264b7095badf04294e7398bde2072c51769bc0e50a2f54799ec3e80d32577c\n");
  EXPECT_EQ(text.substr(0, SignedText(sig).size()), SignedText(sig));
  EXPECT_EQ(text.substr(SignedText(sig).size()),
            "signature //z59vPw7ern5OHe29jV0s/MycbDwL26t7SxrquopaKfnJmWk5CNioeEgX57eHVyb2xpZmNgXVpXVFFOS0hFQg==\n");

  TReleaseSignature parsed;
  ASSERT_TRUE(ParseSignatureFile(text, parsed));
  EXPECT_EQ(parsed.document, sig.document);
  EXPECT_EQ(parsed.version, sig.version);
  EXPECT_EQ(parsed.expires, sig.expires);
  EXPECT_EQ(parsed.documentSha256, sig.documentSha256);
  EXPECT_EQ(parsed.signature, sig.signature);
  EXPECT_EQ(FormatSignatureFile(parsed), text);
}

TEST(ReleaseSignature, LimitsOfTheNumbersRoundTrip) {
  TReleaseSignature sig = Sample();
  sig.version = 18446744073709551615u;
  sig.expires = 9223372036854775807;
  TReleaseSignature parsed;
  ASSERT_TRUE(ParseSignatureFile(FormatSignatureFile(sig), parsed));
  EXPECT_EQ(parsed.version, sig.version);
  EXPECT_EQ(parsed.expires, sig.expires);
  sig.version = 0;
  sig.expires = 0;
  ASSERT_TRUE(ParseSignatureFile(FormatSignatureFile(sig), parsed));
  EXPECT_EQ(parsed.version, 0u);
  EXPECT_EQ(parsed.expires, 0);
}

TEST(ReleaseSignature, OpenSslMadeFilesParseAndFormatBackByteForByte) {
  for (const char* name : {"update.json.sig", "updateL.json.sig", "complete/release.json.sig"}) {
    const std::string text = SigningVector(name);
    TReleaseSignature sig;
    ASSERT_TRUE(ParseSignatureFile(text, sig)) << name;
    EXPECT_EQ(FormatSignatureFile(sig), text) << name;
  }
}

TEST(ReleaseSignature, StrictParseRefusesEveryOtherText) {
  const std::string good = FormatSignatureFile(Sample());
  const std::string hex = "01264b7095badf04294e7398bde2072c51769bc0e50a2f54799ec3e80d32577c";
  const std::string b64 = "//z59vPw7ern5OHe29jV0s/MycbDwL26t7SxrquopaKfnJmWk5CNioeEgX57eHVyb2xpZmNgXVpXVFFOS0hFQg==";
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"no final LF", good.substr(0, good.size() - 1)},
      {"CR LF line ends", WithLine(0, "launcher-signature 1\r")},
      {"CR at the end of the last line", good.substr(0, good.size() - 1) + "\r\n"},
      {"a seventh line", good + "comment x\n"},
      {"an empty line at the end", good + "\n"},
      {"a line missing", good.substr(good.find('\n') + 1)},
      {"another format version", WithLine(0, "launcher-signature 2")},
      {"lines in another order", "launcher-signature 1\ndocument complete/release.json\nexpires 1736172000\n"
                                 "version 1733580000\nsha256 " + hex + "\nsignature " + b64 + "\n"},
      {"two blanks", WithLine(1, "document  complete/release.json")},
      {"trailing blank", WithLine(1, "document complete/release.json ")},
      {"tab for blank", WithLine(2, "version\t1733580000")},
      {"upper-case key", WithLine(2, "Version 1733580000")},
      {"empty document", WithLine(1, "document ")},
      {"blank in document", WithLine(1, "document a b")},
      {"byte above ASCII in document", WithLine(1, "document \xB8\xFC.json")},
      {"overlong document", WithLine(1, "document " + std::string(256, 'a'))},
      {"empty version", WithLine(2, "version ")},
      {"leading zero", WithLine(2, "version 01733580000")},
      {"plus sign", WithLine(2, "version +1733580000")},
      {"minus sign", WithLine(3, "expires -1")},
      {"version overflows", WithLine(2, "version 18446744073709551616")},
      {"expires beyond int64", WithLine(3, "expires 9223372036854775808")},
      {"hex digits in version", WithLine(2, "version 0x10")},
      {"upper-case hex", WithLine(4, "sha256 " + std::string("01264B") + hex.substr(6))},
      {"short hex", WithLine(4, "sha256 " + hex.substr(2))},
      {"long hex", WithLine(4, "sha256 " + hex + "00")},
      {"not hex", WithLine(4, "sha256 " + hex.substr(0, 63) + "g")},
      {"base64 without padding", WithLine(5, "signature " + b64.substr(0, 86))},
      {"base64 of 63 bytes", WithLine(5, "signature " + b64.substr(0, 84))},
      {"base64 of 66 bytes", WithLine(5, "signature " + b64.substr(0, 86) + "AAAA")},
      {"unused bits set", WithLine(5, "signature " + b64.substr(0, 85) + "X==")},
      {"padding inside", WithLine(5, "signature =" + b64.substr(1))},
      {"URL-safe alphabet", WithLine(5, "signature __" + b64.substr(2))},
      {"NUL byte", WithLine(1, std::string("document a\0b", 12))},
      {"larger than 4096 bytes", WithLine(1, "document " + std::string(4100, 'a'))},
  };
  for (const auto& [what, text] : cases) {
    TReleaseSignature parsed;
    parsed.version = 7;
    EXPECT_FALSE(ParseSignatureFile(text, parsed)) << what;
    EXPECT_EQ(parsed.version, 7u) << what << ": output changed on failure";
  }
}

TEST(ReleaseSignature, PublicKeyTextRoundTripAndStrictParse) {
  TPublicKey key{};
  key[0] = 0x04;
  for (size_t i = 1; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 7);
  const std::string text = FormatPublicKeyText(key);
  EXPECT_EQ(text.substr(0, 5), "p256:");
  EXPECT_EQ(text.size(), 5u + 88u);
  TPublicKey parsed{};
  ASSERT_TRUE(ParsePublicKeyText(text, parsed));
  EXPECT_EQ(parsed, key);

  TPublicKey compressed = key;
  compressed[0] = 0x02;
  const std::pair<const char*, std::string> bad[] = {
      {"empty", ""},
      {"no prefix", text.substr(5)},
      {"other curve", "p384:" + text.substr(5)},
      {"upper-case prefix", "P256:" + text.substr(5)},
      {"trailing LF", text + "\n"},
      {"trailing blank", text + " "},
      {"short", text.substr(0, text.size() - 4)},
      {"compressed point prefix", FormatPublicKeyText(compressed)},
      {"unused bits set", text.substr(0, text.size() - 2) + "B="},
  };
  for (const auto& [what, candidate] : bad) EXPECT_FALSE(ParsePublicKeyText(candidate, parsed)) << what;
}
