#include "keymint/certificate_facts.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509_vfy.h>

#include <memory>

#include "keymint/openssl_handles.h"

namespace qardex::keymint {

namespace {

using StorePtr = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE_free>>;
using StoreContextPtr = std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX_free>>;

BioPtr ReadOnlyBio(std::string_view text) {
  return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::vector<X509Ptr> ReadCertificates(std::string_view pem) {
  std::vector<X509Ptr> certificates;
  const BioPtr bio = ReadOnlyBio(pem);
  if (!bio) return certificates;
  while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    certificates.emplace_back(certificate);
  }
  return certificates;
}

// The root alone as the trust anchor; validity is judged apart, by the days left.
bool VerifiesUnder(X509* root, X509* certificate) {
  const StorePtr store(X509_STORE_new());
  const StoreContextPtr context(X509_STORE_CTX_new());
  if (!store || !context || X509_STORE_add_cert(store.get(), root) != 1 ||
      X509_STORE_CTX_init(context.get(), store.get(), certificate, nullptr) != 1) {
    return false;
  }
  X509_STORE_CTX_set_flags(context.get(), X509_V_FLAG_NO_CHECK_TIME);
  X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
  return X509_verify_cert(context.get()) == 1;
}

std::optional<std::int64_t> SecondsUntil(const ASN1_TIME* end, std::time_t now) {
  int days = 0;
  int seconds = 0;
  const std::unique_ptr<ASN1_TIME, OpenSslFree<ASN1_TIME_free>> from(ASN1_TIME_set(nullptr, now));
  if (!from || ASN1_TIME_diff(&days, &seconds, from.get(), end) != 1) return std::nullopt;
  return std::int64_t{days} * 24 * 60 * 60 + seconds;
}

// Whole days: a part of a day already past counts as a day gone.
std::optional<long> WholeDays(std::optional<std::int64_t> seconds) {
  if (!seconds) return std::nullopt;
  const std::int64_t day = 24 * 60 * 60;
  return static_cast<long>(*seconds >= 0 ? *seconds / day : -((-*seconds + day - 1) / day));
}

std::string SerialHex(X509* certificate) {
  const BignumPtr serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr));
  char* hex = serial ? BN_bn2hex(serial.get()) : nullptr;
  if (hex == nullptr) return {};
  std::string text(hex);
  OPENSSL_free(hex);
  return text;
}

}  // namespace

CertificateFacts ExamineCertificates(std::string_view certificatesPem, std::string_view keyPem,
                                     std::time_t now) {
  CertificateFacts facts;
  const std::vector<X509Ptr> certificates = ReadCertificates(certificatesPem);
  facts.certificatesRead = !certificates.empty();
  const BioPtr keyBio = ReadOnlyBio(keyPem);
  const PkeyPtr key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr)
                           : nullptr);
  facts.keyRead = key != nullptr;
  if (facts.certificatesRead) {
    X509* root = certificates.front().get();
    const int length = i2d_X509(root, nullptr);
    if (length > 0) {
      facts.rootDer.resize(static_cast<std::size_t>(length));
      unsigned char* out = facts.rootDer.data();
      i2d_X509(root, &out);
    }
    facts.rootSerial = SerialHex(root);
    for (const X509Ptr& certificate : certificates) {
      if (!key || X509_check_private_key(certificate.get(), key.get()) != 1) continue;
      facts.keyMatches = true;
      facts.secondsLeft = SecondsUntil(X509_get0_notAfter(certificate.get()), now);
      facts.daysLeft = WholeDays(facts.secondsLeft);
      facts.chainsToRoot = certificate.get() != root && VerifiesUnder(root, certificate.get());
      break;
    }
  }
  ERR_clear_error();
  return facts;
}

}  // namespace qardex::keymint
