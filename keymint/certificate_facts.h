// What the service's two certificate files say: whether the key has its certificate among them,
// how long that certificate is still valid, whether the file's first certificate (the root the
// installer trusts) vouches for it, and that root's bytes and serial number. The set-up check
// judges them; the service decides by them when to renew its set.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qardex::keymint {

struct CertificateFacts {
  bool certificatesRead = false;  // at least one certificate in the file
  bool keyRead = false;           // a private key in the key file
  bool keyMatches = false;        // one of the certificates is the key's
  // Whole days until the key's certificate expires; negative once it has.
  std::optional<long> daysLeft;
  std::optional<std::int64_t> secondsLeft;  // the same, to the second
  bool chainsToRoot = false;                // the first certificate verifies the key's one
  std::vector<std::uint8_t> rootDer;        // the first certificate, DER
  std::string rootSerial;                   // its serial number, upper-case hex digits
};

// From the PEM texts of ZELServerCert.crt and ZELServerCert.key; never throws.
CertificateFacts ExamineCertificates(std::string_view certificatesPem, std::string_view keyPem,
                                     std::time_t now);

}  // namespace qardex::keymint
