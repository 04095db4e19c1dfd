#include "service/router.h"

#include <vector>

#include "service/json_text.h"
#include "service/origin_lock.h"

namespace qardex::service {

namespace {

constexpr std::string_view kVersionPath = "/v1/version";
constexpr std::string_view kSessionPath = "/v1/session";

HttpResponse WithError(HttpResponse response, int status, std::u16string_view reason) {
  response.status = status;
  response.body = JsonObject("error", JsonValue::String(std::u16string(reason)));
  return response;
}

HttpResponse NotAllowed(HttpResponse response, std::string allowed) {
  response.AddHeader("Allow", std::move(allowed));
  return WithError(std::move(response), 405, u"method not allowed");
}

// The base of every answer: CORS headers for an approved origin only.
HttpResponse AnswerFor(const HttpRequest& request, OriginVerdict verdict) {
  HttpResponse response;
  if (verdict == OriginVerdict::Approved) {
    response.AddHeader("Access-Control-Allow-Origin", std::string(*request.Header("origin")));
  }
  response.AddHeader("Vary", "Origin");
  response.close = !request.keepAlive;
  return response;
}

std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    path.remove_prefix(1);  // the "/"
    const std::size_t slash = path.find('/');
    parts.push_back(path.substr(0, slash));
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash);
  }
  return parts;
}

}  // namespace

Router::Router(MethodProvider& provider, SessionTable& sessions)
    : provider_(provider), sessions_(sessions), hostHeader_(ServiceHostHeader()) {}

HttpResponse Router::Refuse(int status, const HttpRequest& partial) {
  HttpResponse response = AnswerFor(partial, CheckOrigin(partial.Header("origin")));
  response.close = true;
  return WithError(std::move(response), status,
                   status == 413 ? u"request body too large" : u"malformed request");
}

HttpResponse Router::Handle(const HttpRequest& request) {
  const OriginVerdict verdict = CheckOrigin(request.Header("origin"));
  HttpResponse response = AnswerFor(request, verdict);
  if (request.Header("host") != std::optional<std::string_view>(hostHeader_)) {
    return WithError(std::move(response), 421, u"wrong host");
  }
  if (verdict != OriginVerdict::Approved) {
    return WithError(std::move(response), 403, u"origin not approved");
  }
  if (request.method == "OPTIONS") {
    response.status = 204;
    response.AddHeader("Access-Control-Allow-Methods", "GET, POST, DELETE, OPTIONS");
    response.AddHeader("Access-Control-Allow-Headers", "Content-Type");
    response.AddHeader("Access-Control-Max-Age", std::to_string(kPreflightMaxAgeSeconds));
    return response;
  }
  try {
    return Route(request, response);
  } catch (...) {
    return WithError(std::move(response), 500, u"internal error");
  }
}

HttpResponse Router::Route(const HttpRequest& request, HttpResponse response) {
  std::string_view path = request.target;
  path = path.substr(0, path.find('?'));
  const std::string_view method = request.method;

  if (path == kVersionPath) {
    if (method != "GET") return NotAllowed(std::move(response), "GET, OPTIONS");
    response.body = JsonObject("version", JsonValue::String(provider_.Version()));
    return response;
  }
  if (path == kSessionPath) {
    if (method != "POST") return NotAllowed(std::move(response), "POST, OPTIONS");
    const SessionTable::Opened opened = sessions_.Open([this] { return provider_.OpenSession(); });
    if (opened.status == SessionTable::OpenStatus::Full) {
      return WithError(std::move(response), 429, u"too many sessions");
    }
    if (opened.status != SessionTable::OpenStatus::Opened) {
      return WithError(std::move(response), 503, u"no session available");
    }
    response.status = 201;
    response.body = JsonObject(
        "session", JsonValue::String(std::u16string(opened.id.begin(), opened.id.end())));
    return response;
  }

  const std::vector<std::string_view> parts = Segments(path);
  if (parts.size() == 3 && parts[0] == "v1" && parts[1] == "session") {
    if (method != "DELETE") return NotAllowed(std::move(response), "DELETE, OPTIONS");
    if (!sessions_.Close(parts[2])) return WithError(std::move(response), 404, u"unknown session");
    response.status = 204;
    return response;
  }
  if (parts.size() == 4 && parts[0] == "v1" && parts[1] == "session") {
    if (method != "POST") return NotAllowed(std::move(response), "POST, OPTIONS");
    return CallMethod(request, parts[2], parts[3], std::move(response));
  }
  return WithError(std::move(response), 404, u"not found");
}

HttpResponse Router::CallMethod(const HttpRequest& request, std::string_view sessionId,
                                std::string_view methodName, HttpResponse response) {
  const std::shared_ptr<SessionSlot> slot = sessions_.Find(sessionId);
  if (!slot) return WithError(std::move(response), 404, u"unknown session");
  const MethodSignature* signature = FindMethod(methodName);
  if (signature == nullptr) return WithError(std::move(response), 404, u"unknown method");
  const std::optional<std::vector<JsonValue>> args = ReadArgs(request.body);
  if (!args) return WithError(std::move(response), 400, u"malformed JSON");
  if (!ArgumentsFit(*signature, *args))
    return WithError(std::move(response), 400, u"wrong arguments");

  CallOutcome outcome;
  {
    std::lock_guard<std::mutex> sessionCalls(slot->calls);
    std::unique_lock<std::mutex> card(cardWork_, std::defer_lock);
    if (signature->usesCard) card.lock();
    outcome = slot->session->Call(*signature, *args);
  }
  if (outcome.result.kind != signature->result) {
    return WithError(std::move(response), 500, u"internal error");
  }
  response.body = "{\"result\":";
  AppendJsonValue(response.body, outcome.result);
  response.body += ",\"lastError\":" + std::to_string(outcome.lastError) + "}";
  return response;
}

}  // namespace qardex::service
