// The signature file and the public key text: a text that parses formats back
// to the very same bytes (so the signed text is what was signed), and the
// check of a document under a fixed key never accepts what does not verify.
#include <cstdint>
#include <string>

#include "signing/Crypto.h"
#include "signing/ReleaseCheck.h"

namespace {

// The public key of tests/data/signing/signing-key.pem.
const char* const FixedKey =
    "p256:BMGoeQHVt8R8YXXa6Ur7wvRIHcTxRUTho9IrfC/VO8HOnrYYLJ2ztZOXXVYocSco0TbAPxdlm7RQ7bdVTnV/qKU=";
// tests/data/signing/update.json, which update.json.sig of the seeds signs.
const char* const Document =
    "{\"files\":[{\"File\":\"Client.bin\",\"MD5\":\"0123456789abcdef0123456789abcdef\",\"Size\":1}]}\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TReleaseSignature sig;
  const bool parsed = ParseSignatureFile(text, sig);
  if (parsed && FormatSignatureFile(sig) != text) __builtin_trap();

  TPublicKey key;
  if (ParsePublicKeyText(text, key) && FormatPublicKeyText(key) != text) __builtin_trap();
  if (!ParsePublicKeyText(FixedKey, key)) __builtin_trap();

  uint64_t version = 0;
  const TSignatureVerdict verdict =
      CheckSignedDocument({"update.json", Document, &text}, key, 1765000000, 1733580000, version);
  if (!parsed && verdict != TSignatureVerdict::Malformed) __builtin_trap();
  if (verdict == TSignatureVerdict::Accepted &&
      (!VerifyP256(key, SignedText(sig), sig.signature) || version != sig.version || version < 1733580000)) {
    __builtin_trap();
  }
  return 0;
}
