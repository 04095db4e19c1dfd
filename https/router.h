// The page protocol over HTTP: the Host check, CORS, the preflight, the routes of the interface
// onto what a page asks, and the answers to refused callers and to requests the parser refused.
// The caller has been identified by then; a connection whose caller was refused gets
// RefuseCaller's answer to every request.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "https/http_request.h"
#include "https/http_response.h"
#include "protocol/call_context.h"
#include "protocol/caller.h"
#include "protocol/method_runner.h"
#include "protocol/page_protocol.h"
#include "protocol/refusal_log.h"
#include "protocol/service_clock.h"
#include "protocol/service_log.h"
#include "protocol/session_table.h"

namespace qardex::service {

// How long a browser may keep a preflight answer.
inline constexpr int kPreflightMaxAgeSeconds = 600;

struct HttpRoute {
  std::string_view path;  // "/"-separated; "*" stands for one segment: the session, the method
  std::string_view method;
  PageAsk ask;
};

// The first route whose path matches a request's path owns it: another method gets 405.
inline constexpr HttpRoute kHttpRoutes[] = {
    {"/v1/version", "GET", PageAsk::Version},
    {"/v1/diagnostics", "GET", PageAsk::Diagnostics},
    {"/v1/session", "POST", PageAsk::OpenSession},
    {"/v1/session/*", "DELETE", PageAsk::CloseSession},
    {"/v1/session/*/events", "GET", PageAsk::WatchReaders},
    {"/v1/session/*/*", "POST", PageAsk::CallMethod},
};

class Router {
 public:
  // Without `localhostPorts`, no port is listed.
  Router(MethodProvider& provider, SessionTable& sessions, ServiceLog& log,
         std::chrono::milliseconds sessionCallWait = kSessionCallWait,
         SteadyClock clock = std::chrono::steady_clock::now,
         LocalhostPortsSource localhostPorts = {});

  // Never throws: a failure inside a method becomes a 500 answer.
  // `abandoned` tells a waiting method call that its caller has gone.
  HttpResponse Handle(const HttpRequest& request, const Caller& caller,
                      const Abandoned& abandoned = {});

  // The answer to any request from a caller the service does not work for (403), with the CORS
  // headers an approved origin gets so the page can tell. The connection's first refusal goes to
  // the log (within RefusalLog's limits); a `repeat` is only counted.
  HttpResponse RefuseCaller(const HttpRequest& request, const CallerCheck& check,
                            bool repeat = false);
  // The summaries of refusals held back (housekeeping; `stopping` when the service stops).
  void FlushRefusals(bool stopping = false) { refusals_.Flush(stopping); }

  // The answer to a request the parser refused (400, 413, 431); the connection
  // closes after it. An approved origin still gets the CORS headers.
  HttpResponse Refuse(int status, const HttpRequest& partial);

 private:
  HttpResponse Route(const HttpRequest& request, const Caller& caller, HttpResponse response,
                     const Abandoned& abandoned);

  PageProtocol protocol_;
  RefusalLog refusals_;
};

}  // namespace qardex::service
