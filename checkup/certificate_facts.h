// What the service's two certificate files say: whether the key has its certificate among them,
// how long that certificate is still valid, whether the file's first certificate (the root the
// installer trusts) vouches for it, and that root's bytes for the look-up in the root store.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qardex::checkup {

struct CertificateFacts {
  bool certificatesRead = false;  // at least one certificate in the file
  bool keyRead = false;           // a private key in the key file
  bool keyMatches = false;        // one of the certificates is the key's
  // Whole days until the key's certificate expires; negative once it has.
  std::optional<long> daysLeft;
  bool chainsToRoot = false;          // the first certificate verifies the key's one
  std::vector<std::uint8_t> rootDer;  // the first certificate, DER
};

// From the PEM texts of ZELServerCert.crt and ZELServerCert.key; never throws.
CertificateFacts ExamineCertificates(std::string_view certificatesPem, std::string_view keyPem,
                                     std::time_t now);

}  // namespace qardex::checkup
