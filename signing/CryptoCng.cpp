// The Windows backend: the system's CNG (bcrypt.dll).
#include "signing/Crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

namespace {

constexpr ULONG P256CoordinateSize = 32;

bool Succeeded(NTSTATUS status) { return status >= 0; }

// Owners of the CNG handles, closed on every exit path.
class TAlgorithm {
public:
  explicit TAlgorithm(const wchar_t* name) {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&FHandle, name, nullptr, 0))) FHandle = nullptr;
  }
  ~TAlgorithm() {
    if (FHandle) BCryptCloseAlgorithmProvider(FHandle, 0);
  }
  TAlgorithm(const TAlgorithm&) = delete;
  TAlgorithm& operator=(const TAlgorithm&) = delete;
  BCRYPT_ALG_HANDLE Get() const { return FHandle; }

private:
  BCRYPT_ALG_HANDLE FHandle = nullptr;
};

class TKey {
public:
  TKey() = default;
  ~TKey() {
    if (FHandle) BCryptDestroyKey(FHandle);
  }
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  BCRYPT_KEY_HANDLE* Out() { return &FHandle; }
  BCRYPT_KEY_HANDLE Get() const { return FHandle; }

private:
  BCRYPT_KEY_HANDLE FHandle = nullptr;
};

class THash {
public:
  THash() = default;
  ~THash() {
    if (FHandle) BCryptDestroyHash(FHandle);
  }
  THash(const THash&) = delete;
  THash& operator=(const THash&) = delete;
  BCRYPT_HASH_HANDLE* Out() { return &FHandle; }
  BCRYPT_HASH_HANDLE Get() const { return FHandle; }

private:
  BCRYPT_HASH_HANDLE FHandle = nullptr;
};

// BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y without the 0x04 prefix.
std::vector<UCHAR> PublicBlobOf(const TPublicKey& key) {
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * P256CoordinateSize);
  BCRYPT_ECCKEY_BLOB header;
  header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = P256CoordinateSize;
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), key.data() + 1, 2 * P256CoordinateSize);
  return blob;
}

}  // namespace

struct TSha256Stream::TState {
  TAlgorithm algorithm{BCRYPT_SHA256_ALGORITHM};
  THash hash;
  bool ok = algorithm.Get() && Succeeded(BCryptCreateHash(algorithm.Get(), hash.Out(), nullptr, 0, nullptr, 0, 0));
};

TSha256Stream::TSha256Stream() : FState(std::make_unique<TState>()) {}

TSha256Stream::~TSha256Stream() = default;

void TSha256Stream::Update(const void* data, size_t length) {
  // BCryptHashData takes a ULONG count; large inputs go in pieces.
  const UCHAR* bytes = static_cast<const UCHAR*>(data);
  while (FState->ok && length > 0) {
    const ULONG piece = static_cast<ULONG>(length < (1u << 30) ? length : (1u << 30));
    FState->ok = Succeeded(BCryptHashData(FState->hash.Get(), const_cast<UCHAR*>(bytes), piece, 0));
    bytes += piece;
    length -= piece;
  }
}

bool TSha256Stream::Final(TSha256& out) {
  const bool ok =
      FState->ok && Succeeded(BCryptFinishHash(FState->hash.Get(), out.data(), static_cast<ULONG>(out.size()), 0));
  FState->ok = false;
  return ok;
}

bool VerifyP256(const TPublicKey& key, std::string_view message, const TRawSignature& signature) {
  if (key[0] != 0x04) return false;
  TSha256 digest;
  if (!Sha256(message, digest)) return false;
  TAlgorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!algorithm.Get()) return false;
  std::vector<UCHAR> blob = PublicBlobOf(key);
  TKey publicKey;
  if (!Succeeded(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, publicKey.Out(), blob.data(),
                                     static_cast<ULONG>(blob.size()), 0))) {
    return false;
  }
  // CNG takes the signature as r then s, 32 bytes each: the file's own form.
  TRawSignature raw = signature;
  return BCryptVerifySignature(publicKey.Get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                               raw.data(), static_cast<ULONG>(raw.size()), 0) == 0;
}
