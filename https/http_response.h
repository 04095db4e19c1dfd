// An answer of the service and its bytes on the wire.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "https/event_feed.h"

namespace qardex::service {

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // JSON when not empty
  bool close = false;
  // An event stream instead of a body: the headers go out, then the feed's events until it ends,
  // and the connection closes after it.
  std::shared_ptr<EventFeed> events;

  void AddHeader(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
  }
};

// Status line, the headers, Content-Type and Content-Length (none for 204),
// Connection, then the body. An event stream gets its content type and no length, and closes.
std::string SerializeResponse(const HttpResponse& response);

std::string_view ReasonPhrase(int status);

}  // namespace qardex::service
