// An answer of the service and its bytes on the wire.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qardex::service {

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // JSON when not empty
  bool close = false;

  void AddHeader(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
  }
};

// Status line, the headers, Content-Type and Content-Length (none for 204),
// Connection, then the body.
std::string SerializeResponse(const HttpResponse& response);

std::string_view ReasonPhrase(int status);

}  // namespace qardex::service
