// One HTTPS connection to the local service, kept alive between requests. Every step (connect,
// handshake, send, receive) waits at most until the deadline given for the exchange, checked on
// the clock, so a peer that trickles bytes cannot stretch it.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <memory>
#include <string>

#include "tools/service_client/answer.h"

namespace qardex::service_client {

using Clock = std::chrono::steady_clock;

struct Endpoint {
  std::string host;  // the name the certificate must carry (and the Host header's)
  int port = 0;
  std::string address = "127.0.0.1";
};

class HttpsLink {
 public:
  HttpsLink(SSL_CTX* tls, Endpoint endpoint) : tls_(tls), endpoint_(std::move(endpoint)) {}
  ~HttpsLink() { Drop(); }
  HttpsLink(const HttpsLink&) = delete;
  HttpsLink& operator=(const HttpsLink&) = delete;

  // Sends one request (connecting first when no connection is open) and reads its answer.
  // The connection stays open unless the answer or a failure ends it.
  Answer Exchange(const std::string& request, Clock::time_point deadline);

 private:
  Answer Connect(Clock::time_point deadline);
  Answer Receive(Clock::time_point deadline);
  void Drop();

  SSL_CTX* tls_;
  const Endpoint endpoint_;
  int socket_ = -1;
  SSL* ssl_ = nullptr;
};

// A client context that trusts only CA_FILE's certificates; empty on failure.
std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> MakeClientContext(const std::string& caFile);

}  // namespace qardex::service_client
