#include <gtest/gtest.h>

#include "signing/ReleaseCheck.h"
#include "signing/SigningVectors.h"

namespace {

// update.json.sig of the vectors: version 1733580000, expires 4102444800.
constexpr int64_t Now = 1765000000;
constexpr uint64_t Version = 1733580000;

struct TCase {
  const char* what;
  std::string name = "update.json";
  std::string bytes = SigningVector("update.json");
  std::string signature = SigningVector("update.json.sig");
  bool served = true;
  TPublicKey key = VectorKey();
  int64_t now = Now;
  uint64_t highestAccepted = 0;
};

TSignatureVerdict Check(const TCase& c, uint64_t& version) {
  const TSignedDocument doc{c.name, c.bytes, c.served ? &c.signature : nullptr};
  return CheckSignedDocument(doc, c.key, c.now, c.highestAccepted, version);
}

}  // namespace

TEST(ReleaseCheck, AcceptsAGoodSignatureAndReportsItsVersion) {
  const std::pair<TCase, uint64_t> cases[] = {
      {TCase{.what = "fresh state"}, Version},
      {TCase{.what = "same version again", .highestAccepted = Version}, Version},
      {TCase{.what = "the very second of expiry", .now = 4102444800}, Version},
      {TCase{.what = "older accepted before", .highestAccepted = Version - 1}, Version},
      {TCase{.what = "highest version, expiry far away", .name = "updateL.json", .bytes = SigningVector("updateL.json"),
             .signature = SigningVector("updateL.json.sig"), .highestAccepted = 18446744073709551615u},
       18446744073709551615u},
  };
  for (const auto& [c, expected] : cases) {
    uint64_t version = 0;
    EXPECT_EQ(Check(c, version), TSignatureVerdict::Accepted) << c.what;
    EXPECT_EQ(version, expected) << c.what;
  }
}

TEST(ReleaseCheck, RefusesEachFaultWithItsVerdict) {
  const std::string good = SigningVector("update.json.sig");
  std::string changedVersion = good;
  changedVersion.replace(good.find("1733580000"), 10, "1999999999");
  std::string changedSha = good;
  changedSha[good.find("sha256 ") + 7] = good[good.find("sha256 ") + 7] == '0' ? '1' : '0';
  std::string changedBytes = SigningVector("update.json");
  changedBytes[5] ^= 0x20;

  const std::pair<TCase, TSignatureVerdict> cases[] = {
      {TCase{.what = "no signature served", .served = false}, TSignatureVerdict::Missing},
      {TCase{.what = "empty signature file", .signature = ""}, TSignatureVerdict::Malformed},
      {TCase{.what = "huge signature file", .signature = good + std::string(8192, '\n')}, TSignatureVerdict::Malformed},
      {TCase{.what = "CR LF line ends", .signature = "launcher-signature 1\r\n" + good.substr(21)}, TSignatureVerdict::Malformed},
      {TCase{.what = "another key's package", .key = VectorKey("other-public.txt")}, TSignatureVerdict::BadSignature},
      {TCase{.what = "version raised by hand", .signature = changedVersion}, TSignatureVerdict::BadSignature},
      {TCase{.what = "digest line changed", .signature = changedSha}, TSignatureVerdict::BadSignature},
      {TCase{.what = "served for another document", .name = "updateL.json"}, TSignatureVerdict::WrongDocument},
      {TCase{.what = "one byte of the document changed", .bytes = changedBytes}, TSignatureVerdict::Changed},
      {TCase{.what = "document cut short", .bytes = SigningVector("update.json").substr(1)}, TSignatureVerdict::Changed},
      {TCase{.what = "empty document", .bytes = ""}, TSignatureVerdict::Changed},
      {TCase{.what = "a second after expiry", .now = 4102444801}, TSignatureVerdict::Expired},
      {TCase{.what = "older release replayed", .highestAccepted = Version + 1}, TSignatureVerdict::Rollback},
      // Earlier checks win: a stale replay of another document is refused as
      // another document, an expired replay as expired.
      {TCase{.what = "expired and older", .now = 4102444801, .highestAccepted = Version + 1}, TSignatureVerdict::Expired},
      {TCase{.what = "changed and expired", .bytes = changedBytes, .now = 4102444801}, TSignatureVerdict::Changed},
      {TCase{.what = "other document and older", .name = "updateL.json", .highestAccepted = Version + 1},
       TSignatureVerdict::WrongDocument},
      {TCase{.what = "signed long ago, expiry zero", .name = "complete/release.json",
             .bytes = SigningVector("complete/release.json"), .signature = SigningVector("complete/release.json.sig")},
       TSignatureVerdict::Expired},
  };
  for (const auto& [c, expected] : cases) {
    uint64_t version = 42;
    EXPECT_EQ(Check(c, version), expected) << c.what;
    EXPECT_EQ(version, 42u) << c.what << ": version set on a refusal";
  }
}
