#include "https/http_response.h"

namespace qardex::service {

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Content Too Large";
    case 421:
      return "Misdirected Request";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Internal Server Error";
  }
}

std::string SerializeResponse(const HttpResponse& response) {
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " ";
  out += ReasonPhrase(response.status);
  out += "\r\n";
  for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
  if (response.events) {
    out +=
        "Content-Type: text/event-stream\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    return out;
  }
  if (response.status != 204) {
    if (!response.body.empty()) out += "Content-Type: application/json; charset=utf-8\r\n";
    out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  }
  out += "Cache-Control: no-store\r\n";
  out += response.close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
  out += "\r\n";
  if (response.status != 204) out += response.body;
  return out;
}

}  // namespace qardex::service
