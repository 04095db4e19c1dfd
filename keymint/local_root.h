// A certification authority that lives only in memory for one run of the tool. Its certificate
// may vouch only for the local service's names (critical name constraints); its private key is
// never serialised and is cleared as soon as the server certificate is signed.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "keymint/openssl_handles.h"
#include "qardex_constants.h"

namespace qardex::keymint {

// The names the local service answers under: a DNS host name, an IPv4 address and a second host
// name under .localhost (which browsers resolve to this computer themselves and never send to a
// proxy; empty for none).
struct ServerNames {
  std::string host;
  std::string address;
  std::string loopbackHost = build::kLocalServiceLoopbackHost;
};

struct Validity {
  std::time_t issued;
  std::time_t notBefore;
  std::time_t notAfter;
};

// 397 days, inside the 398 days browsers accept for a server certificate.
inline constexpr std::int64_t kUsualLifetimeSeconds = 397 * 24 * 60 * 60;

// The period every certificate of one run carries: from an hour before `now` (clocks drift)
// for `lifetime` seconds.
Validity ValidityFrom(std::time_t now, std::int64_t lifetime = kUsualLifetimeSeconds);

// A fresh RSA-2048 key pair.
PkeyPtr NewRsaKey();

class LocalRoot {
 public:
  // A fresh self-signed root whose name constraints permit exactly `scope`.
  static LocalRoot Create(const ServerNames& scope, const Validity& validity);

  // A server certificate for `names` and `serverKey`, signed by this root: server
  // authentication only.
  X509Ptr IssueServerCertificate(EVP_PKEY* serverKey, const ServerNames& names,
                                 const Validity& validity) const;

  // Clears and releases the private key; the root can sign nothing afterwards.
  void ForgetKey() { key_.reset(); }

  X509* certificate() const { return certificate_.get(); }

 private:
  LocalRoot() = default;

  PkeyPtr key_;
  X509Ptr certificate_;
};

// "YYYY-MM-DD HH:MM:SSZ" in UTC.
std::string UtcStamp(std::time_t when);

// PEM text of a certificate.
std::string CertificatePem(X509* certificate);

}  // namespace qardex::keymint
