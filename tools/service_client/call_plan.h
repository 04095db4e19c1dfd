// What each client of qardex-service-client sends: the calls named on the command line, turned
// into HTTP requests for the local service's interface.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qardex::service_client {

// "version" is GET /v1/version; anything else is a method called in the client's session,
// "Method" without an argument or "Method:TEXT" with one string argument. In TEXT, "{c}" becomes
// the client's number and "{i}" the call's number (both from 0), so that every call can send
// something of its own.
struct PlannedCall {
  std::string method;  // "version" or the method's name
  std::optional<std::string> argument;
  bool inSession() const { return method != "version"; }
};

// Nothing when TEXT is not one of the forms above (names are letters, digits and '_';
// arguments printable ASCII).
std::optional<PlannedCall> ParseCall(const std::string& text);

struct RequestBase {
  std::string host;    // Host header value, "name:port"
  std::string origin;  // Origin header value
};

std::string VersionRequest(const RequestBase& base);
std::string OpenSessionRequest(const RequestBase& base);
std::string CloseSessionRequest(const RequestBase& base, const std::string& session);
// The argument with its placeholders filled in, as sent.
std::string ArgumentFor(const PlannedCall& call, int client, long index);
std::string MethodRequest(const RequestBase& base, const std::string& session,
                          const PlannedCall& call, const std::string& argument);

// The session id of a 201 answer's body; empty when it holds none.
std::string SessionOf(const std::string& body);

}  // namespace qardex::service_client
