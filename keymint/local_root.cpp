#include "keymint/local_root.h"

#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstdio>

#include "keymint/mint_error.h"
#include "qardex_constants.h"

namespace qardex::keymint {

namespace {

constexpr unsigned kRsaBits = 2048;
constexpr std::time_t kClockAllowance = 60 * 60;

// Letters, digits, hyphens and dots, in labels of 1 to 63 characters: nothing that could
// change the meaning of the extension texts below.
bool IsPlainHostName(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  std::size_t label = 0;
  for (const char c : host) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool allowed =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (!allowed || ++label > 63) return false;
  }
  return label != 0;
}

bool IsIpv4Address(const std::string& address) {
  unsigned parts[4];
  char end = 0;
  if (std::sscanf(address.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                  &end) != 4) {
    return false;
  }
  for (const unsigned part : parts) {
    if (part > 255) return false;
  }
  return address.find_first_not_of("0123456789.") == std::string::npos;
}

void CheckNames(const ServerNames& names) {
  if (!IsPlainHostName(names.host)) {
    throw MintError("'" + names.host + "' is not a plain DNS host name");
  }
  const std::string suffix = ".localhost";
  if (!names.loopbackHost.empty() &&
      (!IsPlainHostName(names.loopbackHost) || names.loopbackHost.size() <= suffix.size() ||
       names.loopbackHost.compare(names.loopbackHost.size() - suffix.size(), suffix.size(),
                                  suffix) != 0)) {
    throw MintError("'" + names.loopbackHost + "' is not a host name under .localhost");
  }
  if (!IsIpv4Address(names.address)) {
    throw MintError("'" + names.address + "' is not an IPv4 address");
  }
}

// A new version-3 certificate with a random positive 128-bit serial number.
X509Ptr NewCertificate(const Validity& validity) {
  X509Ptr certificate(X509_new());
  Require(certificate != nullptr, "making a certificate");
  Require(X509_set_version(certificate.get(), 2) == 1, "setting the certificate version");
  unsigned char serial[16];
  Require(RAND_bytes(serial, sizeof serial) == 1, "drawing a serial number");
  serial[0] = static_cast<unsigned char>((serial[0] & 0x7f) | 0x40);
  BignumPtr number(BN_bin2bn(serial, sizeof serial, nullptr));
  Require(number != nullptr &&
              BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate.get())) != nullptr,
          "setting the serial number");
  Require(ASN1_TIME_set(X509_getm_notBefore(certificate.get()), validity.notBefore) != nullptr &&
              ASN1_TIME_set(X509_getm_notAfter(certificate.get()), validity.notAfter) != nullptr,
          "setting the validity");
  return certificate;
}

void SetSubject(X509* certificate, const std::string& commonName) {
  X509_NAME* name = X509_get_subject_name(certificate);
  const auto add = [name](const char* field, const std::string& value) {
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                      0) == 1;
  };
  Require(add("O", build::kLocalRootOrganization) && add("CN", commonName),
          "setting the subject name");
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  Require(extension != nullptr && X509_add_ext(certificate, extension.get(), -1) == 1,
          (std::string("adding the extension ") + OBJ_nid2sn(nid)).c_str());
}

void Sign(X509* certificate, EVP_PKEY* key) {
  Require(X509_sign(certificate, key, EVP_sha256()) > 0, "signing a certificate");
}

}  // namespace

std::string UtcStamp(std::time_t when) {
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &when);
#else
  gmtime_r(&when, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &parts);
  return text;
}

Validity ValidityFrom(std::time_t now, std::int64_t lifetime) {
  const std::time_t notBefore = now - kClockAllowance;
  return {now, notBefore, notBefore + static_cast<std::time_t>(lifetime)};
}

PkeyPtr NewRsaKey() {
  PkeyPtr key(EVP_RSA_gen(kRsaBits));
  Require(key != nullptr, "generating an RSA key");
  return key;
}

LocalRoot LocalRoot::Create(const ServerNames& scope, const Validity& validity) {
  CheckNames(scope);
  LocalRoot root;
  root.key_ = NewRsaKey();
  root.certificate_ = NewCertificate(validity);
  X509* certificate = root.certificate_.get();
  // The creation time tells the roots of successive installations apart in the store.
  SetSubject(certificate, build::kLocalRootNamePrefix + UtcStamp(validity.issued));
  Require(X509_set_issuer_name(certificate, X509_get_subject_name(certificate)) == 1 &&
              X509_set_pubkey(certificate, root.key_.get()) == 1,
          "setting the root's issuer and key");
  AddExtension(certificate, certificate, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
  AddExtension(certificate, certificate, NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(certificate, certificate, NID_subject_key_identifier, "hash");
  AddExtension(certificate, certificate, NID_name_constraints,
               "critical,permitted;DNS:" + scope.host +
                   (scope.loopbackHost.empty() ? "" : ",permitted;DNS:" + scope.loopbackHost) +
                   ",permitted;IP:" + scope.address + "/255.255.255.255");
  Sign(certificate, root.key_.get());
  return root;
}

X509Ptr LocalRoot::IssueServerCertificate(EVP_PKEY* serverKey, const ServerNames& names,
                                          const Validity& validity) const {
  if (!key_) throw MintError("the root's key is gone; it cannot sign");
  CheckNames(names);
  X509Ptr server = NewCertificate(validity);
  SetSubject(server.get(), names.host);
  Require(X509_set_issuer_name(server.get(), X509_get_subject_name(certificate_.get())) == 1 &&
              X509_set_pubkey(server.get(), serverKey) == 1,
          "setting the server certificate's issuer and key");
  AddExtension(server.get(), certificate_.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(server.get(), certificate_.get(), NID_key_usage,
               "critical,digitalSignature,keyEncipherment");
  AddExtension(server.get(), certificate_.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(server.get(), certificate_.get(), NID_subject_alt_name,
               "DNS:" + names.host +
                   (names.loopbackHost.empty() ? "" : ",DNS:" + names.loopbackHost) +
                   ",IP:" + names.address);
  AddExtension(server.get(), certificate_.get(), NID_subject_key_identifier, "hash");
  AddExtension(server.get(), certificate_.get(), NID_authority_key_identifier, "keyid:always");
  Sign(server.get(), key_.get());
  return server;
}

std::string CertificatePem(X509* certificate) {
  BioPtr memory(BIO_new(BIO_s_mem()));
  Require(memory != nullptr && PEM_write_bio_X509(memory.get(), certificate) == 1,
          "writing a certificate as PEM");
  char* data = nullptr;
  const long length = BIO_get_mem_data(memory.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace qardex::keymint
