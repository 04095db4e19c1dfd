// What one run of the tool produces: a fresh root, a server certificate it signs and the
// server's key, and the four files the installer takes from the tool's folder.
//
// ZELServerCert.crt  the root certificate, then the server certificate. The installer imports
//                    the first certificate of this file into the machine's trusted roots, so
//                    the root comes first; the service presents the certificate that matches
//                    ZELServerCert.key, followed by the root.
// ZELServerCert.key  the server's private key (PKCS #8, not enciphered).
// ZELServerCert.pem  the server certificate, then the root (the usual chain order).
// ZELRootCA.pem      the root certificate alone, for stores that take a trust anchor.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "keymint/local_root.h"
#include "keymint/new_file.h"

namespace qardex::keymint {

inline constexpr char kServerCertificateFile[] = "ZELServerCert.crt";
inline constexpr char kServerKeyFile[] = "ZELServerCert.key";
inline constexpr char kServerChainFile[] = "ZELServerCert.pem";
inline constexpr char kRootCertificateFile[] = "ZELRootCA.pem";
// Beside the service's copies: why the service's last attempt to renew the set failed
// (FormatRenewalFailure); deleted once a renewal succeeds.
inline constexpr char kRenewalNoteFile[] = "ZELServerCert.renewal";

// PEM texts; the root's private key is not among them and no longer exists.
struct CertificateSet {
  std::string rootCertificate;
  std::string serverCertificate;
  std::string serverKey;
};

CertificateSet MintCertificateSet(const ServerNames& names, std::time_t now,
                                  std::int64_t lifetime = kUsualLifetimeSeconds);

// The lifetime of the sets this program makes: the usual one, or in test builds the seconds
// that QARDEX_TEST_CERTIFICATE_SECONDS gives (see SetLifetimeSeconds).
std::int64_t LifetimeOfNewSets();

struct NamedFile {
  std::string name;
  std::string content;
  FileAccess access = FileAccess::kInherited;
};

std::vector<NamedFile> FilesOf(const CertificateSet& set);

}  // namespace qardex::keymint
