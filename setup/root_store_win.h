// Import of the local service's certificate into the machine's trusted root store.
#pragma once

#include <string>

namespace qardex::setup {

enum class ImportOutcome {
  kAdded,
  kAlreadyPresent,
  kUnreadable,       // missing, empty, or 8192 bytes or more
  kNotACertificate,  // not PEM-armoured base64 of an X.509 certificate
  kStoreRefused,     // the store cannot be opened, written or committed
};

// Reads the PEM file at `path` and adds its certificate to the local machine's "root" store,
// keeping a copy already there. Prints and logs nothing.
ImportOutcome ImportRootCertificate(const std::string& path);

}  // namespace qardex::setup
