// The service's TLS side: the certificate of ZELServerCert.crt that matches
// ZELServerCert.key (the file holds the root first), the other certificates
// sent as its chain, TLS 1.2 and 1.3 only.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <string_view>

#include "keymint/openssl_handles.h"

namespace qardex::service {

using SslContextPtr = std::unique_ptr<SSL_CTX, keymint::OpenSslFree<SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, keymint::OpenSslFree<SSL_free>>;

struct TlsContext {
  SslContextPtr context;  // null on failure
  std::string error;      // why, in a line for the operator
};

// From the PEM texts of the two files.
TlsContext MakeTlsContext(std::string_view certificatesPem, std::string_view keyPem);

}  // namespace qardex::service
