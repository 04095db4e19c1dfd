#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <ctime>

#include "keymint/certificate_set.h"
#include "qardex_constants.h"
#include "https/tls_credentials.h"

namespace qardex::service {
namespace {

const keymint::CertificateSet& Minted() {
  static const keymint::CertificateSet set =
      keymint::MintCertificateSet({build::kLocalServiceHost, "127.0.0.1"}, std::time(nullptr));
  return set;
}

// Runs a handshake over memory buffers with a client that trusts only the root
// and checks the service's host name; returns the protocol or "" on failure.
std::string Handshake(SSL_CTX* serverContext, int clientMaxVersion) {
  SslContextPtr clientContext(SSL_CTX_new(TLS_client_method()));
  keymint::BioPtr rootBio(
      BIO_new_mem_buf(Minted().rootCertificate.data(), int(Minted().rootCertificate.size())));
  keymint::X509Ptr root(PEM_read_bio_X509(rootBio.get(), nullptr, nullptr, nullptr));
  X509_STORE_add_cert(SSL_CTX_get_cert_store(clientContext.get()), root.get());
  SSL_CTX_set_verify(clientContext.get(), SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_max_proto_version(clientContext.get(), clientMaxVersion);
  SslPtr client(SSL_new(clientContext.get()));
  SslPtr server(SSL_new(serverContext));
  SSL_set1_host(client.get(), build::kLocalServiceHost);
  BIO *clientEnd = nullptr, *serverEnd = nullptr;
  BIO_new_bio_pair(&clientEnd, 0, &serverEnd, 0);
  SSL_set_bio(client.get(), clientEnd, clientEnd);
  SSL_set_bio(server.get(), serverEnd, serverEnd);
  SSL_set_connect_state(client.get());
  SSL_set_accept_state(server.get());
  for (int round = 0; round < 20; ++round) {
    const int c = SSL_do_handshake(client.get());
    const int s = SSL_do_handshake(server.get());
    if (c == 1 && s == 1) return SSL_get_version(client.get());
  }
  ERR_clear_error();
  return "";
}

TEST(TlsCredentials, PresentsTheCertificateMatchingTheKeyWithTheRootAsChain) {
  // The file holds the root first, as the installer needs it.
  const TlsContext tls =
      MakeTlsContext(Minted().rootCertificate + Minted().serverCertificate, Minted().serverKey);
  ASSERT_TRUE(tls.context) << tls.error;
  EXPECT_EQ(Handshake(tls.context.get(), TLS1_3_VERSION), "TLSv1.3");
  EXPECT_EQ(Handshake(tls.context.get(), TLS1_2_VERSION), "TLSv1.2");
}

TEST(TlsCredentials, ClearRefusals) {
  const struct {
    std::string certificates;
    std::string key;
    const char* error;
  } cases[] = {
      {Minted().rootCertificate, Minted().serverKey,
       "no certificate in ZELServerCert.crt matches ZELServerCert.key"},
      {"", Minted().serverKey, "ZELServerCert.crt holds no readable certificate"},
      {Minted().serverCertificate, Minted().serverKey.substr(0, 200),
       "ZELServerCert.key holds no readable private key"},
  };
  for (const auto& c : cases) {
    const TlsContext tls = MakeTlsContext(c.certificates, c.key);
    EXPECT_FALSE(tls.context);
    EXPECT_EQ(tls.error, c.error);
  }
}

// A renewal switches the listener: connections made before keep the set they began with.
TEST(TlsCredentials, ConnectionsMadeAfterASwitchPresentTheNewSet) {
  const keymint::CertificateSet renewed =
      keymint::MintCertificateSet({build::kLocalServiceHost, "127.0.0.1"}, std::time(nullptr));
  const auto server = [](const SslPtr& ssl) {
    keymint::BioPtr pem(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(pem.get(), SSL_get_certificate(ssl.get()));
    char* data = nullptr;
    return std::string(data, static_cast<std::size_t>(BIO_get_mem_data(pem.get(), &data)));
  };
  CurrentTls current(
      MakeTlsContext(Minted().rootCertificate + Minted().serverCertificate, Minted().serverKey)
          .context);
  const SslPtr before = current.NewConnection();
  current.Replace(
      MakeTlsContext(renewed.rootCertificate + renewed.serverCertificate, renewed.serverKey)
          .context);
  const SslPtr after = current.NewConnection();
  ASSERT_TRUE(before && after);
  EXPECT_EQ(server(before), Minted().serverCertificate);
  EXPECT_EQ(server(after), renewed.serverCertificate);
}

}  // namespace
}  // namespace qardex::service
