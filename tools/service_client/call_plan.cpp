#include "tools/service_client/call_plan.h"

#include <algorithm>

namespace qardex::service_client {

namespace {

std::string Request(const RequestBase& base, const std::string& line, const std::string& body,
                    bool withBody) {
  std::string text =
      line + " HTTP/1.1\r\nHost: " + base.host + "\r\nOrigin: " + base.origin + "\r\n";
  if (withBody) {
    text +=
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  }
  return text + "\r\n" + body;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::optional<PlannedCall> ParseCall(const std::string& text) {
  PlannedCall call;
  const std::size_t colon = text.find(':');
  call.method = text.substr(0, colon);
  const bool nameOk =
      !call.method.empty() && std::all_of(call.method.begin(), call.method.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
      });
  if (!nameOk) return std::nullopt;
  if (colon != std::string::npos) {
    if (call.method == "version") return std::nullopt;
    call.argument = text.substr(colon + 1);
    if (!std::all_of(call.argument->begin(), call.argument->end(),
                     [](char c) { return c >= 0x20 && c < 0x7F; })) {
      return std::nullopt;
    }
  }
  return call;
}

std::string VersionRequest(const RequestBase& base) {
  return Request(base, "GET /v1/version", "", false);
}

std::string OpenSessionRequest(const RequestBase& base) {
  return Request(base, "POST /v1/session", "", true);
}

std::string CloseSessionRequest(const RequestBase& base, const std::string& session) {
  return Request(base, "DELETE /v1/session/" + session, "", false);
}

std::string ArgumentFor(const PlannedCall& call, int client, long index) {
  if (!call.argument) return {};
  return Replace(Replace(*call.argument, "{c}", std::to_string(client)), "{i}",
                 std::to_string(index));
}

std::string MethodRequest(const RequestBase& base, const std::string& session,
                          const PlannedCall& call, const std::string& argument) {
  const std::string body =
      call.argument ? "{\"args\":[" + JsonString(argument) + "]}" : std::string("{\"args\":[]}");
  return Request(base, "POST /v1/session/" + session + "/" + call.method, body, true);
}

std::string SessionOf(const std::string& body) {
  const std::string key = "{\"session\":\"";
  if (body.compare(0, key.size(), key) != 0) return {};
  const std::size_t end = body.find('"', key.size());
  if (end == std::string::npos) return {};
  return body.substr(key.size(), end - key.size());
}

}  // namespace qardex::service_client
