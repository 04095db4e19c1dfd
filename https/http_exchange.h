// One client connection's requests and answers, independent of sockets and
// TLS: received bytes go in, bytes to send come out.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "protocol/caller.h"
#include "https/http_request.h"
#include "https/router.h"

namespace qardex::service {

class HttpExchange {
 public:
  // `caller`: who is at the other end of the connection (IdentifyCaller, once per connection).
  // A refused caller gets Router::RefuseCaller's answer to each request.
  HttpExchange(Router& router, CallerCheck caller, RequestLimits limits = {})
      : router_(router), caller_(std::move(caller)), parser_(limits) {}

  // Answers every request completed by these bytes (several when pipelined); `abandoned` tells
  // a method call waiting for its turn that the client has gone.
  std::string Receive(std::string_view bytes, const Abandoned& abandoned = {});

  // The connection is to be closed once the answers so far are sent.
  bool Closing() const { return closing_; }
  // A request has begun and is not yet complete (the slow-client case).
  bool InRequest() const { return parser_.InRequest(); }
  // The event stream the last answer began, once: the connection then carries only its events.
  std::shared_ptr<EventFeed> TakeEvents() { return std::move(events_); }

 private:
  Router& router_;
  const CallerCheck caller_;
  RequestParser parser_;
  bool closing_ = false;
  bool refused_ = false;  // this connection's refusal is in the log already
  std::shared_ptr<EventFeed> events_;
};

}  // namespace qardex::service
