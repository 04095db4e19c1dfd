#include "setup/root_store_win.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <memory>
#include <type_traits>
#include <vector>

#include "setup/certificate_rules.h"
#include "setup/win_handles.h"

namespace qardex::setup {

namespace {

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, StoreCloser>;

struct ContextFreer {
  void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using CertContext = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

// Up to the read limit; the count tells whether the file fits.
std::string ReadLimited(const std::string& path) {
  const KernelHandle file =
      AdoptFileHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string text;
  if (!file) return text;
  text.resize(kImportReadLimit);
  std::size_t got = 0;
  while (got < text.size()) {
    DWORD piece = 0;
    if (!ReadFile(file.get(), text.data() + got, static_cast<DWORD>(text.size() - got), &piece,
                  nullptr) ||
        piece == 0) {
      break;
    }
    got += piece;
  }
  text.resize(got);
  return text;
}

// The DER bytes inside the PEM armour; empty when the text is not armoured base64.
std::vector<BYTE> DecodePem(const std::string& text) {
  const DWORD length = static_cast<DWORD>(text.size());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                            nullptr) ||
      size == 0) {
    return {};
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                            nullptr, nullptr)) {
    return {};
  }
  der.resize(size);
  return der;
}

}  // namespace

ImportOutcome ImportRootCertificate(const std::string& path) {
  const std::string text = ReadLimited(path);
  if (!ImportSizeAccepted(text.size())) return ImportOutcome::kUnreadable;

  const std::vector<BYTE> der = DecodePem(text);
  if (der.empty()) return ImportOutcome::kNotACertificate;
  const CertContext certificate(CertCreateCertificateContext(
      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  if (!certificate) return ImportOutcome::kNotACertificate;

  const CertStore store(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                    CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG, L"root"));
  if (!store) return ImportOutcome::kStoreRefused;
  ImportOutcome outcome = ImportOutcome::kAdded;
  if (!CertAddCertificateContextToStore(store.get(), certificate.get(), CERT_STORE_ADD_NEW,
                                        nullptr)) {
    if (static_cast<HRESULT>(GetLastError()) != CRYPT_E_EXISTS) return ImportOutcome::kStoreRefused;
    outcome = ImportOutcome::kAlreadyPresent;
  }
  // Some platforms keep the store's changes in memory until they are committed.
  if (!CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
    return ImportOutcome::kStoreRefused;
  }
  return outcome;
}

}  // namespace qardex::setup
