#include "protocol/page_protocol.h"

#include <mutex>
#include <utility>
#include <vector>

#include "engine/session.h"
#include "protocol/call_values.h"
#include "protocol/json_text.h"
#include "protocol/protocol_revision.h"

namespace qardex::service {

namespace {

PageAnswer Error(int status, std::u16string_view reason) {
  PageAnswer answer;
  answer.status = status;
  answer.body = JsonObject("error", JsonValue::String(std::u16string(reason)));
  return answer;
}

// The answer to a call that did not give a result.
PageAnswer Unanswered(CallStatus status) {
  switch (status) {
    case CallStatus::Busy: {
      PageAnswer answer = Error(503, u"card busy");
      answer.retryAfterSeconds = kBusyRetryAfterSeconds;
      return answer;
    }
    case CallStatus::WorkerEnded:
      return Error(502, u"worker ended during the call");
    case CallStatus::Unavailable:
      return Error(503, u"worker unavailable");
    default:
      return Error(500, u"internal error");
  }
}

// A JSON object's text with the protocol's revision added as its last members.
std::string WithRevision(std::string object) {
  object.insert(object.size() - 1,
                ",\"protocol\":" + std::to_string(kPageProtocolRevision) +
                    ",\"oldestLibraryProtocol\":" + std::to_string(kOldestLibraryRevision));
  return object;
}

PageAnswer WithBody(int status, std::string body) {
  PageAnswer answer;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}

}  // namespace

PageProtocol::PageProtocol(MethodProvider& provider, SessionTable& sessions,
                           std::chrono::milliseconds sessionCallWait,
                           LocalhostPortsSource localhostPorts)
    : provider_(provider),
      sessions_(sessions),
      sessionCallWait_(sessionCallWait),
      localhostPorts_(std::move(localhostPorts)),
      diagnostics_([] { return std::chrono::steady_clock::now(); }) {}

OriginCheck PageProtocol::CheckOriginOf(std::optional<std::string_view> origin) const {
  return CheckOrigin(origin, localhostPorts_ ? localhostPorts_() : sitelock::LocalhostPorts{});
}

PageAnswer PageProtocol::OriginRefused() { return Error(403, u"origin not approved"); }

PageAnswer PageProtocol::Answer(const PageRequest& request) {
  try {
    const OriginCheck origin = CheckOriginOf(request.origin);
    if (origin.verdict != OriginVerdict::Approved) return OriginRefused();
    const SessionOwner owner{origin.origin, request.caller.windowsSession, request.caller.userSid};
    return Route(request, owner);
  } catch (...) {
    return Error(500, u"internal error");
  }
}

PageAnswer PageProtocol::Route(const PageRequest& request, const SessionOwner& owner) {
  switch (request.ask) {
    case PageAsk::Version: {
      // "version" stays the control's GetVersion; "product" is the product's version.
      const std::string_view version = engine::kComponentVersion;
      std::string body =
          JsonObject("version", JsonValue::String(std::u16string(version.begin(), version.end())));
      body.insert(body.size() - 1, ",\"product\":\"" QARDEX_PRODUCT_VERSION "\"");
      return WithBody(200, WithRevision(std::move(body)));
    }
    case PageAsk::Diagnostics: {
      DiagnosticsAnswer answer = diagnostics_.Gather(provider_, request.caller, request.context);
      if (answer.status != CallStatus::Ok) return Unanswered(answer.status);
      return WithBody(200, std::move(answer.body));
    }
    case PageAsk::OpenSession:
      return OpenSession(request, owner);
    case PageAsk::CloseSession:
      if (!sessions_.Close(request.session, owner)) return Error(404, u"unknown session");
      return WithBody(204, {});
    case PageAsk::WatchReaders:
      return WatchReaders(request.session, owner);
    case PageAsk::CallMethod:
      return CallMethod(request, owner);
  }
  return Error(500, u"internal error");
}

PageAnswer PageProtocol::OpenSession(const PageRequest& request, const SessionOwner& owner) {
  const SessionTable::Opened opened =
      sessions_.Open(owner, [&] { return provider_.OpenSession(request.caller); });
  if (opened.status == SessionTable::OpenStatus::Full) return Error(429, u"too many sessions");
  if (opened.status != SessionTable::OpenStatus::Opened) {
    return Error(503, u"no session available");
  }
  return WithBody(
      201, WithRevision(JsonObject(
               "session", JsonValue::String(std::u16string(opened.id.begin(), opened.id.end())))));
}

PageAnswer PageProtocol::WatchReaders(std::string_view sessionId, const SessionOwner& owner) {
  const std::shared_ptr<LiveSession> live = sessions_.Find(sessionId, owner);
  if (!live) return Error(404, u"unknown session");
  std::unique_ptr<WatchLimits::Place> place = watchers_.Admit(sessionId, owner.windowsSession);
  if (!place) return Error(429, u"too many watchers");
  std::shared_ptr<ReaderWatcher> watcher = live->session->WatchReaders();
  if (!watcher) return Unanswered(CallStatus::Unavailable);
  PageAnswer answer;
  answer.events = std::make_shared<ReaderEventSource>(
      std::move(watcher), std::move(place),
      [this, id = std::string(sessionId), owner] { return sessions_.Find(id, owner) != nullptr; });
  return answer;
}

PageAnswer PageProtocol::CallMethod(const PageRequest& request, const SessionOwner& owner) {
  const std::shared_ptr<LiveSession> live = sessions_.Find(request.session, owner);
  if (!live) return Error(404, u"unknown session");
  const ipc::MethodSignature* signature = ipc::FindMethod(request.method);
  if (signature == nullptr) return Error(404, u"unknown method");
  const std::optional<std::vector<JsonValue>> json = ReadArgs(request.body);
  if (!json) return Error(400, u"malformed JSON");
  const std::optional<std::vector<ipc::Value>> args = CallArgsOf(*json);
  if (!args || !ipc::ArgumentsFit(*signature, *args)) return Error(400, u"wrong arguments");

  CallOutcome outcome;
  {
    std::unique_lock<std::timed_mutex> turn(live->turn, std::defer_lock);
    const auto waited =
        request.context.WaitFor(std::chrono::steady_clock::now() + sessionCallWait_,
                                [&](std::chrono::steady_clock::time_point sliceEnd) {
                                  return turn.try_lock_until(sliceEnd);
                                });
    if (waited != CallContext::Waited::Ready) return Unanswered(CallStatus::Busy);
    outcome = live->session->Call(*signature, *args, request.context);
  }
  if (outcome.status != CallStatus::Ok) return Unanswered(outcome.status);
  if (outcome.result.kind != signature->result) return Error(500, u"internal error");
  std::string body = "{\"result\":";
  AppendJsonValue(body, JsonOf(outcome.result));
  body += ",\"lastError\":" + std::to_string(outcome.lastError) + "}";
  return WithBody(200, std::move(body));
}

}  // namespace qardex::service
