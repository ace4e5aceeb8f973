// Owners of the OpenSSL objects this module uses, so that every exit path
// frees them.
#pragma once
#include <memory>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

struct TEvpPkeyFree { void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); } };
struct TEvpPkeyCtxFree { void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); } };
struct TEvpMdCtxFree { void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); } };
struct TEcdsaSigFree { void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); } };
struct TBignumFree { void operator()(BIGNUM* p) const { BN_free(p); } };
struct TParamBldFree { void operator()(OSSL_PARAM_BLD* p) const { OSSL_PARAM_BLD_free(p); } };
struct TParamFree { void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); } };

using TEvpPkey = std::unique_ptr<EVP_PKEY, TEvpPkeyFree>;
using TEvpPkeyCtx = std::unique_ptr<EVP_PKEY_CTX, TEvpPkeyCtxFree>;
using TEvpMdCtx = std::unique_ptr<EVP_MD_CTX, TEvpMdCtxFree>;
using TEcdsaSig = std::unique_ptr<ECDSA_SIG, TEcdsaSigFree>;
using TBignum = std::unique_ptr<BIGNUM, TBignumFree>;
using TParamBld = std::unique_ptr<OSSL_PARAM_BLD, TParamBldFree>;
using TParams = std::unique_ptr<OSSL_PARAM, TParamFree>;
