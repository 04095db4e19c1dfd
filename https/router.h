// Turns one request into one answer: the Host and Origin checks, CORS, the routes of the
// interface, sessions and method calls. The caller has been identified by then; a connection
// whose caller was refused gets RefuseCaller's answer to every request.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "protocol/caller.h"
#include "protocol/diagnostics_route.h"
#include "https/http_request.h"
#include "https/http_response.h"
#include "protocol/method_runner.h"
#include "protocol/origin_lock.h"
#include "https/reader_stream.h"
#include "protocol/refusal_log.h"
#include "protocol/service_clock.h"
#include "protocol/service_log.h"
#include "protocol/session_table.h"

namespace qardex::service {

// How long a browser may keep a preflight answer.
inline constexpr int kPreflightMaxAgeSeconds = 600;
// How long a call waits for the previous call of its session, as a worker waits for the card.
inline constexpr std::chrono::milliseconds kSessionCallWait{30'000};
// When a page is told to try a busy card again.
inline constexpr int kBusyRetryAfterSeconds = 5;

// The ports the administrator lists for pages on http://localhost, as they are now.
using LocalhostPortsSource = std::function<sitelock::LocalhostPorts()>;

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
  HttpResponse Route(const HttpRequest& request, const SessionOwner& owner, const Caller& caller,
                     HttpResponse response, const Abandoned& abandoned);
  HttpResponse WatchReaders(std::string_view sessionId, const SessionOwner& owner,
                            HttpResponse response);
  HttpResponse CallMethod(const HttpRequest& request, const SessionOwner& owner,
                          std::string_view sessionId, std::string_view methodName,
                          HttpResponse response, const Abandoned& abandoned);
  OriginCheck CheckOriginOf(const HttpRequest& request) const;

  MethodProvider& provider_;
  SessionTable& sessions_;
  RefusalLog refusals_;
  const std::chrono::milliseconds sessionCallWait_;
  const std::string hostHeader_;
  const LocalhostPortsSource localhostPorts_;
  WatcherSeats watchers_;
  DiagnosticsProbe diagnostics_;
};

}  // namespace qardex::service
