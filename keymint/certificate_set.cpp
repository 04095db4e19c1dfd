#include "keymint/certificate_set.h"

#include <openssl/pem.h>

#include <cstdlib>

#include "keymint/mint_error.h"
#include "keymint/renewal_plan.h"

namespace qardex::keymint {

namespace {

std::string PrivateKeyPem(EVP_PKEY* key) {
  BioPtr memory(BIO_new(BIO_s_mem()));
  Require(memory != nullptr && PEM_write_bio_PrivateKey(memory.get(), key, nullptr, nullptr, 0,
                                                        nullptr, nullptr) == 1,
          "writing the server key as PEM");
  char* data = nullptr;
  const long length = BIO_get_mem_data(memory.get(), &data);
  std::string pem(data, static_cast<std::size_t>(length));
  OPENSSL_cleanse(data, static_cast<std::size_t>(length));
  return pem;
}

}  // namespace

CertificateSet MintCertificateSet(const ServerNames& names, std::time_t now,
                                  std::int64_t lifetime) {
  const Validity validity = ValidityFrom(now, lifetime);
  PkeyPtr serverKey = NewRsaKey();
  CertificateSet set;
  {
    LocalRoot root = LocalRoot::Create(names, validity);
    X509Ptr server = root.IssueServerCertificate(serverKey.get(), names, validity);
    root.ForgetKey();
    set.rootCertificate = CertificatePem(root.certificate());
    set.serverCertificate = CertificatePem(server.get());
  }
  set.serverKey = PrivateKeyPem(serverKey.get());
  return set;
}

std::int64_t LifetimeOfNewSets() {
#ifdef QARDEX_TEST_HOOKS
  return SetLifetimeSeconds(std::getenv("QARDEX_TEST_CERTIFICATE_SECONDS"));
#else
  return SetLifetimeSeconds(nullptr);
#endif
}

std::vector<NamedFile> FilesOf(const CertificateSet& set) {
  return {
      {kServerCertificateFile, set.rootCertificate + set.serverCertificate},
      {kServerKeyFile, set.serverKey, FileAccess::kPrivateKey},
      {kServerChainFile, set.serverCertificate + set.rootCertificate},
      {kRootCertificateFile, set.rootCertificate},
  };
}

}  // namespace qardex::keymint
