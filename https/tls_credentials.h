// The service's TLS side: the certificate of ZELServerCert.crt that matches
// ZELServerCert.key (the file holds the root first), the other certificates
// sent as its chain, TLS 1.2 and 1.3 only.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <mutex>
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

// The context the listener's new connections are made from, replaced when the service renews
// its certificate set. A connection keeps the context it was made from (each SSL object holds a
// reference of its own), so the connections open at a switch go on as they were.
class CurrentTls {
 public:
  explicit CurrentTls(SslContextPtr context) : context_(std::move(context)) {}
  CurrentTls(const CurrentTls&) = delete;
  CurrentTls& operator=(const CurrentTls&) = delete;

  void Replace(SslContextPtr context);
  // A connection's TLS object from the current context; null when it cannot be made.
  SslPtr NewConnection() const;

 private:
  mutable std::mutex lock_;
  SslContextPtr context_;
};

}  // namespace qardex::service
