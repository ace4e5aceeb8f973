// trust-test-ca PEM: adds the CA certificate of a PEM file to the current
// user's "Root" store of the Wine prefix the Windows build's tests run in,
// so that SChannel trusts the TLS test peer (`wine certutil` is a stub).
// Exits 0 when the certificate is in the store.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TStore {
  HCERTSTORE Handle = nullptr;
  ~TStore() {
    if (Handle) CertCloseStore(Handle, 0);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust-test-ca PEM\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  const std::string pem = text.str();
  DWORD size = 0;
  if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                           nullptr, &size, nullptr, nullptr)) {
    std::fprintf(stderr, "trust-test-ca: no certificate in %s\n", argv[1]);
    return 1;
  }
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                       nullptr, nullptr);
  TStore store;
  store.Handle = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (store.Handle == nullptr) {
    std::fprintf(stderr, "trust-test-ca: cannot open the Root store (%lu)\n", GetLastError());
    return 1;
  }
  if (!CertAddEncodedCertificateToStore(store.Handle, X509_ASN_ENCODING, der.data(), size,
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    std::fprintf(stderr, "trust-test-ca: adding the certificate failed (%lu)\n", GetLastError());
    return 1;
  }
  std::printf("trusted %s\n", argv[1]);
  return 0;
}
