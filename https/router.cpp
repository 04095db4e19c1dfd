#include "https/router.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/session.h"
#include "protocol/call_values.h"
#include "protocol/json_text.h"

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

// The answer to a call that did not give a result.
HttpResponse Unanswered(HttpResponse response, CallStatus status) {
  switch (status) {
    case CallStatus::Busy:
      response.AddHeader("Retry-After", std::to_string(kBusyRetryAfterSeconds));
      return WithError(std::move(response), 503, u"card busy");
    case CallStatus::WorkerEnded:
      return WithError(std::move(response), 502, u"worker ended during the call");
    case CallStatus::Unavailable:
      return WithError(std::move(response), 503, u"worker unavailable");
    default:
      return WithError(std::move(response), 500, u"internal error");
  }
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

Router::Router(MethodProvider& provider, SessionTable& sessions, ServiceLog& log,
               std::chrono::milliseconds sessionCallWait, SteadyClock clock,
               LocalhostPortsSource localhostPorts)
    : provider_(provider),
      sessions_(sessions),
      refusals_(log, std::move(clock)),
      sessionCallWait_(sessionCallWait),
      hostHeader_(ServiceHostHeader()),
      localhostPorts_(std::move(localhostPorts)),
      diagnostics_([] { return std::chrono::steady_clock::now(); }) {}

OriginCheck Router::CheckOriginOf(const HttpRequest& request) const {
  return CheckOrigin(request.Header("origin"),
                     localhostPorts_ ? localhostPorts_() : sitelock::LocalhostPorts{});
}

HttpResponse Router::RefuseCaller(const HttpRequest& request, const CallerCheck& check,
                                  bool repeat) {
  HttpResponse response = AnswerFor(request, CheckOriginOf(request).verdict);
  const std::string_view cause = RefusalText(check.refusal);
  if (repeat) {
    refusals_.Repeated(cause);
  } else {
    refusals_.Refused(cause, "refused a request from process " +
                                 std::to_string(check.caller.processId) + ": " +
                                 std::string(cause));
  }
  return WithError(std::move(response), 403, u"caller not allowed");
}

HttpResponse Router::Refuse(int status, const HttpRequest& partial) {
  HttpResponse response = AnswerFor(partial, CheckOriginOf(partial).verdict);
  response.close = true;
  return WithError(std::move(response), status,
                   status == 413 ? u"request body too large" : u"malformed request");
}

HttpResponse Router::Handle(const HttpRequest& request, const Caller& caller,
                            const Abandoned& abandoned) {
  const OriginCheck origin = CheckOriginOf(request);
  HttpResponse response = AnswerFor(request, origin.verdict);
  if (request.Header("host") != std::optional<std::string_view>(hostHeader_)) {
    return WithError(std::move(response), 421, u"wrong host");
  }
  if (origin.verdict != OriginVerdict::Approved) {
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
    const SessionOwner owner{origin.origin, caller.windowsSession, caller.userSid};
    return Route(request, owner, caller, response, abandoned);
  } catch (...) {
    return WithError(std::move(response), 500, u"internal error");
  }
}

HttpResponse Router::Route(const HttpRequest& request, const SessionOwner& owner,
                           const Caller& caller, HttpResponse response,
                           const Abandoned& abandoned) {
  std::string_view path = request.target;
  path = path.substr(0, path.find('?'));
  const std::string_view method = request.method;

  if (path == kVersionPath) {
    if (method != "GET") return NotAllowed(std::move(response), "GET, OPTIONS");
    const std::string_view version = engine::kComponentVersion;
    response.body =
        JsonObject("version", JsonValue::String(std::u16string(version.begin(), version.end())));
    return response;
  }
  if (path == kDiagnosticsPath) {
    if (method != "GET") return NotAllowed(std::move(response), "GET, OPTIONS");
    DiagnosticsAnswer answer = diagnostics_.Gather(provider_, caller, abandoned);
    if (answer.status != CallStatus::Ok) return Unanswered(std::move(response), answer.status);
    response.body = std::move(answer.body);
    return response;
  }
  if (path == kSessionPath) {
    if (method != "POST") return NotAllowed(std::move(response), "POST, OPTIONS");
    const SessionTable::Opened opened =
        sessions_.Open(owner, [&] { return provider_.OpenSession(caller); });
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
    if (!sessions_.Close(parts[2], owner))
      return WithError(std::move(response), 404, u"unknown session");
    response.status = 204;
    return response;
  }
  if (parts.size() == 4 && parts[0] == "v1" && parts[1] == "session" && parts[3] == "events") {
    if (method != "GET") return NotAllowed(std::move(response), "GET, OPTIONS");
    return WatchReaders(parts[2], owner, std::move(response));
  }
  if (parts.size() == 4 && parts[0] == "v1" && parts[1] == "session") {
    if (method != "POST") return NotAllowed(std::move(response), "POST, OPTIONS");
    return CallMethod(request, owner, parts[2], parts[3], std::move(response), abandoned);
  }
  return WithError(std::move(response), 404, u"not found");
}

HttpResponse Router::WatchReaders(std::string_view sessionId, const SessionOwner& owner,
                                  HttpResponse response) {
  const std::shared_ptr<SessionSlot> slot = sessions_.Find(sessionId, owner);
  if (!slot) return WithError(std::move(response), 404, u"unknown session");
  std::unique_ptr<WatcherSeats::Seat> seat = watchers_.Take(sessionId, owner.windowsSession);
  if (!seat) return WithError(std::move(response), 429, u"too many watchers");
  std::shared_ptr<ReaderWatcher> watcher = slot->session->WatchReaders();
  if (!watcher) return Unanswered(std::move(response), CallStatus::Unavailable);
  response.close = true;
  response.events = std::make_shared<ReaderStream>(
      std::move(watcher), std::move(seat),
      [this, id = std::string(sessionId), owner] { return sessions_.Find(id, owner) != nullptr; });
  return response;
}

HttpResponse Router::CallMethod(const HttpRequest& request, const SessionOwner& owner,
                                std::string_view sessionId, std::string_view methodName,
                                HttpResponse response, const Abandoned& abandoned) {
  const std::shared_ptr<SessionSlot> slot = sessions_.Find(sessionId, owner);
  if (!slot) return WithError(std::move(response), 404, u"unknown session");
  const ipc::MethodSignature* signature = ipc::FindMethod(methodName);
  if (signature == nullptr) return WithError(std::move(response), 404, u"unknown method");
  const std::optional<std::vector<JsonValue>> json = ReadArgs(request.body);
  if (!json) return WithError(std::move(response), 400, u"malformed JSON");
  const std::optional<std::vector<ipc::Value>> args = CallArgsOf(*json);
  if (!args || !ipc::ArgumentsFit(*signature, *args)) {
    return WithError(std::move(response), 400, u"wrong arguments");
  }

  CallOutcome outcome;
  {
    std::unique_lock<std::timed_mutex> turn(slot->calls, std::defer_lock);
    const auto until = std::chrono::steady_clock::now() + sessionCallWait_;
    while (!turn.try_lock_until(std::min(until, std::chrono::steady_clock::now() + kAbandonPoll))) {
      if (std::chrono::steady_clock::now() >= until || (abandoned && abandoned())) {
        return Unanswered(std::move(response), CallStatus::Busy);
      }
    }
    outcome = slot->session->Call(*signature, *args, abandoned);
  }
  if (outcome.status != CallStatus::Ok) return Unanswered(std::move(response), outcome.status);
  if (outcome.result.kind != signature->result) {
    return WithError(std::move(response), 500, u"internal error");
  }
  response.body = "{\"result\":";
  AppendJsonValue(response.body, JsonOf(outcome.result));
  response.body += ",\"lastError\":" + std::to_string(outcome.lastError) + "}";
  return response;
}

}  // namespace qardex::service
