// The native backend: OpenSSL's libcrypto (3.x).
#include "signing/Crypto.h"

#include <openssl/core_names.h>

#include "signing/OpenSslHandles.h"

namespace {

// The public point as an EVP_PKEY of the P-256 group; OpenSSL checks that
// the point lies on the curve.
TEvpPkey PublicKeyOf(const TPublicKey& key) {
  TParamBld builder(OSSL_PARAM_BLD_new());
  if (!builder ||
      !OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
      !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, key.data(), key.size())) {
    return nullptr;
  }
  TParams params(OSSL_PARAM_BLD_to_param(builder.get()));
  TEvpPkeyCtx context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1) return nullptr;
  EVP_PKEY* made = nullptr;
  if (EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) return nullptr;
  TEvpPkey owned(made);
  // fromdata does not validate the point; a key off the curve verifies nothing.
  TEvpPkeyCtx check(EVP_PKEY_CTX_new_from_pkey(nullptr, owned.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return owned;
}

// OpenSSL verifies DER signatures; the file carries the raw r||s.
bool DerOf(const TRawSignature& raw, std::string& der) {
  TEcdsaSig sig(ECDSA_SIG_new());
  TBignum r(BN_bin2bn(raw.data(), 32, nullptr));
  TBignum s(BN_bin2bn(raw.data() + 32, 32, nullptr));
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return false;
  r.release();  // now owned by sig
  s.release();
  const int size = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (size <= 0) return false;
  der.resize(static_cast<size_t>(size));
  unsigned char* cursor = reinterpret_cast<unsigned char*>(der.data());
  return i2d_ECDSA_SIG(sig.get(), &cursor) == size;
}

}  // namespace

struct TSha256Stream::TState {
  TEvpMdCtx context{EVP_MD_CTX_new()};
  bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
};

TSha256Stream::TSha256Stream() : FState(std::make_unique<TState>()) {}

TSha256Stream::~TSha256Stream() = default;

void TSha256Stream::Update(const void* data, size_t length) {
  if (FState->ok && length > 0) FState->ok = EVP_DigestUpdate(FState->context.get(), data, length) == 1;
}

bool TSha256Stream::Final(TSha256& out) {
  unsigned int size = 0;
  const bool ok = FState->ok && EVP_DigestFinal_ex(FState->context.get(), out.data(), &size) == 1 &&
                  size == out.size();
  FState->ok = false;
  return ok;
}

bool VerifyP256(const TPublicKey& key, std::string_view message, const TRawSignature& signature) {
  TEvpPkey publicKey = PublicKeyOf(key);
  std::string der;
  if (!publicKey || !DerOf(signature, der)) return false;
  TEvpMdCtx context(EVP_MD_CTX_new());
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, publicKey.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(der.data()), der.size(),
                          reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}
