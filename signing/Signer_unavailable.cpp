// The Windows build verifies only: keys and signatures are made by the
// Linux build of the tools, which has OpenSSL.
#include "signing/Signer.h"

namespace {

bool Unavailable(std::string& error) {
  error = "this build cannot sign: make keys and signatures with the Linux build of the tools";
  return false;
}

}  // namespace

struct TSigningKey::TData {};

bool SigningAvailable() { return false; }

TSigningKey::TSigningKey() : FData(std::make_unique<TData>()) {}
TSigningKey::~TSigningKey() = default;
TSigningKey::TSigningKey(TSigningKey&&) noexcept = default;
TSigningKey& TSigningKey::operator=(TSigningKey&&) noexcept = default;

bool TSigningKey::Generate(std::string& error) { return Unavailable(error); }
bool TSigningKey::FromPem(std::string_view, std::string& error) { return Unavailable(error); }
bool TSigningKey::ToPem(std::string&, std::string& error) const { return Unavailable(error); }
bool TSigningKey::ReadFile(const std::string&, std::string& error) { return Unavailable(error); }
bool TSigningKey::WriteNewFile(const std::string&, std::string& error) const { return Unavailable(error); }
bool TSigningKey::PublicKey(TPublicKey&, std::string& error) const { return Unavailable(error); }
bool TSigningKey::Sign(std::string_view, std::string_view, uint64_t, int64_t, TReleaseSignature&,
                       std::string& error) const {
  return Unavailable(error);
}
