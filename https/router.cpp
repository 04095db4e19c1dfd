#include "https/router.h"

#include <memory>
#include <utility>
#include <vector>

#include "https/reader_stream.h"
#include "protocol/json_text.h"

namespace qardex::service {

namespace {

HttpResponse WithError(HttpResponse response, int status, std::u16string_view reason) {
  response.status = status;
  response.body = JsonObject("error", JsonValue::String(std::u16string(reason)));
  return response;
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

// The protocol's answer in HTTP: an event stream ends the connection after it.
HttpResponse WithAnswer(HttpResponse response, PageAnswer answer) {
  response.status = answer.status;
  response.body = std::move(answer.body);
  if (answer.retryAfterSeconds > 0) {
    response.AddHeader("Retry-After", std::to_string(answer.retryAfterSeconds));
  }
  if (answer.events) {
    response.close = true;
    response.events = std::make_shared<ReaderStream>(std::move(answer.events));
  }
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

struct RouteMatch {
  const HttpRoute* route = nullptr;
  std::vector<std::string_view> wildcards;  // what the "*" segments stood for, in order
};

RouteMatch Match(const std::vector<std::string_view>& parts) {
  for (const HttpRoute& route : kHttpRoutes) {
    const std::vector<std::string_view> pattern = Segments(route.path);
    if (pattern.size() != parts.size()) continue;
    RouteMatch match{&route, {}};
    for (std::size_t i = 0; i < parts.size() && match.route; ++i) {
      if (pattern[i] == "*") {
        match.wildcards.push_back(parts[i]);
      } else if (pattern[i] != parts[i]) {
        match.route = nullptr;
      }
    }
    if (match.route) return match;
  }
  return {};
}

}  // namespace

Router::Router(MethodProvider& provider, SessionTable& sessions, ServiceLog& log,
               std::chrono::milliseconds sessionCallWait, SteadyClock clock,
               LocalhostPortsSource localhostPorts)
    : protocol_(provider, sessions, sessionCallWait, std::move(localhostPorts)),
      refusals_(log, std::move(clock)) {}

HttpResponse Router::RefuseCaller(const HttpRequest& request, const CallerCheck& check,
                                  bool repeat) {
  HttpResponse response =
      AnswerFor(request, protocol_.CheckOriginOf(request.Header("origin")).verdict);
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
  HttpResponse response =
      AnswerFor(partial, protocol_.CheckOriginOf(partial.Header("origin")).verdict);
  response.close = true;
  return WithError(std::move(response), status,
                   status == 413 ? u"request body too large" : u"malformed request");
}

HttpResponse Router::Handle(const HttpRequest& request, const Caller& caller,
                            const Abandoned& abandoned) {
  const OriginCheck origin = protocol_.CheckOriginOf(request.Header("origin"));
  HttpResponse response = AnswerFor(request, origin.verdict);
  if (!IsServiceHostHeader(request.Header("host"))) {
    return WithError(std::move(response), 421, u"wrong host");
  }
  if (origin.verdict != OriginVerdict::Approved) {
    return WithAnswer(std::move(response), PageProtocol::OriginRefused());
  }
  if (request.method == "OPTIONS") {
    response.status = 204;
    response.AddHeader("Access-Control-Allow-Methods", "GET, POST, DELETE, OPTIONS");
    response.AddHeader("Access-Control-Allow-Headers", "Content-Type");
    response.AddHeader("Access-Control-Max-Age", std::to_string(kPreflightMaxAgeSeconds));
    return response;
  }
  try {
    return Route(request, caller, response, abandoned);
  } catch (...) {
    return WithError(std::move(response), 500, u"internal error");
  }
}

HttpResponse Router::Route(const HttpRequest& request, const Caller& caller, HttpResponse response,
                           const Abandoned& abandoned) {
  const std::string_view target = request.target;
  const RouteMatch match = Match(Segments(target.substr(0, target.find('?'))));
  if (!match.route) return WithError(std::move(response), 404, u"not found");
  if (request.method != match.route->method) {
    response.AddHeader("Allow", std::string(match.route->method) + ", OPTIONS");
    return WithError(std::move(response), 405, u"method not allowed");
  }
  PageRequest asked{request.Header("origin"), caller, match.route->ask, {}, {}, request.body,
                    CallContext(abandoned)};
  if (!match.wildcards.empty()) asked.session = match.wildcards[0];
  if (match.wildcards.size() > 1) asked.method = match.wildcards[1];
  return WithAnswer(std::move(response), protocol_.Answer(asked));
}

}  // namespace qardex::service
