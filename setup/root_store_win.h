// Import of the local service's root certificate into the machine's trusted root store.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

struct RootImport {
  ImportOutcome outcome;
  std::vector<unsigned char> encoded;  // the certificate now in the store, when there is one
};

// Adds the first certificate of `pemText` to the local machine's "root" store when it is a CA
// whose critical name constraints permit only the local service's host name and address,
// keeping a copy already there. Leaves the other roots of the local service where they are.
RootImport AddLocalServiceRoot(const std::string& pemText);

// The first certificate of `pemText` as the browsers' copy holds it (PEM, that certificate
// alone) and its serial number as BrowserRootNameFor takes it; nullopt when it is none.
struct BrowserRoot {
  std::string serial;
  std::string pem;
};
std::optional<BrowserRoot> RootForBrowsers(const std::string& pemText);

// Adds the first certificate of `pemText` (as read from ZELServerCert.crt) to the local
// machine's "root" store when it is a CA whose critical name constraints permit only the local
// service's host name and address, keeping a copy already there; a refusal is one line on the
// console and in the log. Then deletes every other root of the local service from the store,
// so that at most this one is left. The outcome is the import's.
ImportOutcome TrustLocalServiceRoot(const std::string& pemText, const LineSink& console,
                                    const LineSink& log);

}  // namespace qardex::setup
