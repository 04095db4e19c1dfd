// Import of the local service's root certificate into the machine's trusted root store.
#pragma once

#include <string>

#include "setup/install_texts.h"

namespace qardex::setup {

enum class ImportOutcome {
  kAdded,
  kAlreadyPresent,
  kUnreadable,       // missing, empty, or 8192 bytes or more
  kNotACertificate,  // not PEM-armoured base64 of an X.509 certificate
  kRefused,          // not a CA confined to the local service's names
  kStoreRefused,     // the store cannot be opened, written or committed
};

// Adds the first certificate of `pemText` (as read from ZELServerCert.crt) to the local
// machine's "root" store when it is a CA whose critical name constraints permit only the local
// service's host name and address, keeping a copy already there; a refusal is one line on the
// console and in the log. Then deletes every other root of the local service from the store,
// so that at most this one is left. The outcome is the import's.
ImportOutcome TrustLocalServiceRoot(const std::string& pemText, const LineSink& console,
                                    const LineSink& log);

}  // namespace qardex::setup
