#include "https/tls_credentials.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <climits>
#include <vector>

#include "keymint/certificate_set.h"

namespace qardex::service {

namespace {

using keymint::BioPtr;
using keymint::PkeyPtr;
using keymint::X509Ptr;

BioPtr MemoryBio(std::string_view text) {
  if (text.size() > INT_MAX) return nullptr;
  return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// No passphrase prompt: the key file is not enciphered.
int NoPassphrase(char*, int, int, void*) { return -1; }

TlsContext Failure(std::string error) {
  ERR_clear_error();
  return {nullptr, std::move(error)};
}

}  // namespace

TlsContext MakeTlsContext(std::string_view certificatesPem, std::string_view keyPem) {
  const std::string keyFile = keymint::kServerKeyFile;
  const std::string certificateFile = keymint::kServerCertificateFile;

  BioPtr keyBio = MemoryBio(keyPem);
  PkeyPtr key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, NoPassphrase, nullptr)
                     : nullptr);
  if (!key) return Failure(keyFile + " holds no readable private key");

  std::vector<X509Ptr> certificates;
  BioPtr certificateBio = MemoryBio(certificatesPem);
  while (certificateBio) {
    X509Ptr certificate(PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
    if (!certificate) break;
    certificates.push_back(std::move(certificate));
  }
  ERR_clear_error();  // the end of the text reads as an error
  if (certificates.empty()) return Failure(certificateFile + " holds no readable certificate");

  std::size_t server = certificates.size();
  for (std::size_t i = 0; i < certificates.size() && server == certificates.size(); ++i) {
    if (X509_check_private_key(certificates[i].get(), key.get()) == 1) server = i;
  }
  ERR_clear_error();
  if (server == certificates.size()) {
    return Failure("no certificate in " + certificateFile + " matches " + keyFile);
  }

  SslContextPtr context(SSL_CTX_new(TLS_server_method()));
  if (!context) return Failure("cannot make a TLS context");
  SSL_CTX* ctx = context.get();
  bool ok = SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) == 1 &&
            SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION) == 1 &&
            SSL_CTX_set_cipher_list(ctx, "ECDHE+AESGCM:!aNULL") == 1 &&
            SSL_CTX_use_certificate(ctx, certificates[server].get()) == 1 &&
            SSL_CTX_use_PrivateKey(ctx, key.get()) == 1 && SSL_CTX_check_private_key(ctx) == 1;
  for (std::size_t i = 0; ok && i < certificates.size(); ++i) {
    if (i != server) ok = SSL_CTX_add1_chain_cert(ctx, certificates[i].get()) == 1;
  }
  if (!ok) return Failure("cannot use the certificate and key of " + certificateFile);
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  // A record's header and body in one socket read, not two.
  SSL_CTX_set_read_ahead(ctx, 1);
  return {std::move(context), {}};
}

void CurrentTls::Replace(SslContextPtr context) {
  std::lock_guard<std::mutex> hold(lock_);
  context_.swap(context);
  // The earlier context goes when its last connection ends.
}

SslPtr CurrentTls::NewConnection() const {
  std::lock_guard<std::mutex> hold(lock_);
  return SslPtr(context_ ? SSL_new(context_.get()) : nullptr);
}

}  // namespace qardex::service
