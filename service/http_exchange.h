// One client connection's requests and answers, independent of sockets and
// TLS: received bytes go in, bytes to send come out.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "service/caller.h"
#include "service/http_request.h"
#include "service/router.h"

namespace qardex::service {

class HttpExchange {
 public:
  // `caller`: who is at the other end of the connection (IdentifyCaller, once per connection).
  // A refused caller gets Router::RefuseCaller's answer to each request.
  HttpExchange(Router& router, CallerCheck caller, RequestLimits limits = {})
      : router_(router), caller_(std::move(caller)), parser_(limits) {}

  // Answers every request completed by these bytes (several when pipelined).
  std::string Receive(std::string_view bytes);

  // The connection is to be closed once the answers so far are sent.
  bool Closing() const { return closing_; }
  // A request has begun and is not yet complete (the slow-client case).
  bool InRequest() const { return parser_.InRequest(); }

 private:
  Router& router_;
  const CallerCheck caller_;
  RequestParser parser_;
  bool closing_ = false;
};

}  // namespace qardex::service
