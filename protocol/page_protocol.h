// What a page may ask of the service and what it is answered, whatever carries the request: the
// origin lock, the sessions and their owners, one call at a time per session, the methods'
// arguments and results as JSON, reader events and diagnostics. A transport finds out who the
// caller is and where the page comes from, turns its request into a PageRequest and sends the
// PageAnswer back in its own form.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/call_context.h"
#include "protocol/caller.h"
#include "protocol/diagnostics.h"
#include "protocol/method_runner.h"
#include "protocol/origin_lock.h"
#include "protocol/reader_events.h"
#include "protocol/service_clock.h"
#include "protocol/session_table.h"
#include "protocol/watch_limits.h"

namespace qardex::service {

// How long a call waits for the previous call of its session, as a worker waits for the card.
inline constexpr std::chrono::milliseconds kSessionCallWait{30'000};
// When a page is told to try a busy card again.
inline constexpr int kBusyRetryAfterSeconds = 5;

// The ports the administrator lists for pages on http://localhost, as they are now.
using LocalhostPortsSource = std::function<sitelock::LocalhostPorts()>;

enum class PageAsk { Version, Diagnostics, OpenSession, CloseSession, WatchReaders, CallMethod };

struct PageRequest {
  std::optional<std::string_view> origin;  // as the transport got it; none when it has none
  Caller caller;
  PageAsk ask = PageAsk::Version;
  std::string_view session;  // CloseSession, WatchReaders, CallMethod
  std::string_view method;   // CallMethod
  std::string_view body;     // CallMethod: {"args":[...]}
  CallContext context;
};

// The events a WatchReaders answer carries: the readers' events for as long as the session
// lives, holding the watcher's place.
class ReaderEventSource {
 public:
  ReaderEventSource(std::shared_ptr<ReaderWatcher> watcher,
                    std::unique_ptr<WatchLimits::Place> place, std::function<bool()> sessionAlive)
      : watcher_(std::move(watcher)),
        place_(std::move(place)),
        sessionAlive_(std::move(sessionAlive)) {}

  ReaderWatcher::Next Wait(std::chrono::milliseconds limit) { return watcher_->Wait(limit); }
  // Whether the session still exists (asking keeps it from expiring).
  bool SessionAlive() const { return sessionAlive_(); }

 private:
  const std::shared_ptr<ReaderWatcher> watcher_;
  const std::unique_ptr<WatchLimits::Place> place_;
  const std::function<bool()> sessionAlive_;
};

struct PageAnswer {
  // 200, 201 (session opened), 204 (session closed), 400, 403, 404, 429, 500, 502, 503.
  int status = 200;
  std::string body;  // a JSON object; empty for 204 and for events
  // When a busy card may be asked again; 0 without a hint.
  int retryAfterSeconds = 0;
  std::shared_ptr<ReaderEventSource> events;  // WatchReaders, when 200
};

class PageProtocol {
 public:
  // Without `localhostPorts`, no port is listed.
  PageProtocol(MethodProvider& provider, SessionTable& sessions,
               std::chrono::milliseconds sessionCallWait = kSessionCallWait,
               LocalhostPortsSource localhostPorts = {});

  // The origin lock with the administrator's ports as they are now.
  OriginCheck CheckOriginOf(std::optional<std::string_view> origin) const;
  // The answer to a page whose origin the lock refuses.
  static PageAnswer OriginRefused();

  // Never throws: a failure inside a method becomes a 500 answer.
  PageAnswer Answer(const PageRequest& request);

 private:
  PageAnswer Route(const PageRequest& request, const SessionOwner& owner);
  PageAnswer OpenSession(const PageRequest& request, const SessionOwner& owner);
  PageAnswer WatchReaders(std::string_view sessionId, const SessionOwner& owner);
  PageAnswer CallMethod(const PageRequest& request, const SessionOwner& owner);

  MethodProvider& provider_;
  SessionTable& sessions_;
  const std::chrono::milliseconds sessionCallWait_;
  const LocalhostPortsSource localhostPorts_;
  WatchLimits watchers_;
  DiagnosticsProbe diagnostics_;
};

}  // namespace qardex::service
