#include "protocol/diagnostics.h"

#include <algorithm>
#include <iterator>
#include <memory>

namespace qardex::service {

namespace {

// What GetReaders answers when PC/SC fails or no reader is attached.
constexpr std::u16string_view kNoReaders = u"N/A";

CallOutcome CallByName(MethodSession& session, std::string_view name) {
  const ipc::MethodSignature* method = ipc::FindMethod(name);
  if (method == nullptr) return {CallStatus::Failed, {}, 0};
  CallOutcome outcome = session.Call(*method, {});
  if (outcome.status == CallStatus::Ok && outcome.result.kind != method->result) {
    outcome.status = CallStatus::Failed;
  }
  return outcome;
}

// Reader names are joined by "," unescaped, so a name holding a comma counts twice: the number
// is what the page library can show, not an inventory.
std::size_t ReaderCount(const std::u16string& joined) {
  if (joined.empty() || joined == kNoReaders) return 0;
  return static_cast<std::size_t>(std::count(joined.begin(), joined.end(), u',')) + 1;
}

const char* Bool(bool value) { return value ? "true" : "false"; }

}  // namespace

DiagnosticsAnswer GatherDiagnostics(MethodProvider& provider, const Caller& caller) {
  const std::unique_ptr<MethodSession> session = provider.OpenSession(caller);
  if (!session) return {CallStatus::Unavailable, {}};
  const CallOutcome readers = CallByName(*session, "GetReaders");
  if (readers.status != CallStatus::Ok) return {readers.status, {}};
  const CallOutcome hcReader = CallByName(*session, "GetHCConnectNo");
  if (hcReader.status != CallStatus::Ok) return {hcReader.status, {}};
  const CallOutcome server = CallByName(*session, "ServiceStatus");
  if (server.status != CallStatus::Ok) return {server.status, {}};
  std::string body = "{\"version\":\"" QARDEX_PRODUCT_VERSION "\",\"readers\":";
  body += std::to_string(ReaderCount(readers.result.text));
  body += ",\"hcCard\":";
  body += Bool(hcReader.result.number >= 0);
  body += ",\"serverReachable\":";
  body += Bool(server.result.number == 0);
  body += '}';
  return {CallStatus::Ok, std::move(body)};
}

DiagnosticsProbe::DiagnosticsProbe(SteadyClock clock, std::chrono::milliseconds wait)
    : clock_(std::move(clock)), wait_(wait) {}

std::string DiagnosticsProbe::Reusable(const Key& key) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = kept_.find(key);
  if (found == kept_.end() || clock_() - found->second.at >= kDiagnosticsReuse) return {};
  return found->second.body;
}

DiagnosticsAnswer DiagnosticsProbe::Gather(MethodProvider& provider, const Caller& caller,
                                           const CallContext& context) {
  const Key key{caller.windowsSession, caller.userSid};
  if (std::string body = Reusable(key); !body.empty()) return {CallStatus::Ok, std::move(body)};
  std::unique_lock<std::timed_mutex> turn(probing_, std::defer_lock);
  const auto waited = context.WaitFor(std::chrono::steady_clock::now() + wait_,
                                      [&](std::chrono::steady_clock::time_point sliceEnd) {
                                        return turn.try_lock_until(sliceEnd);
                                      });
  if (waited != CallContext::Waited::Ready) return {CallStatus::Busy, {}};
  // The probe this request waited for may have been for the same user.
  if (std::string body = Reusable(key); !body.empty()) return {CallStatus::Ok, std::move(body)};
  DiagnosticsAnswer answer = GatherDiagnostics(provider, caller);
  if (answer.status != CallStatus::Ok) return answer;
  std::lock_guard<std::mutex> hold(lock_);
  const auto now = clock_();
  for (auto it = kept_.begin(); it != kept_.end();) {
    it = now - it->second.at >= kDiagnosticsReuse ? kept_.erase(it) : std::next(it);
  }
  kept_[key] = Kept{now, answer.body};
  return answer;
}

}  // namespace qardex::service
