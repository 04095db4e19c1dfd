#include "tools/service_client/client_run.h"

#include <algorithm>
#include <thread>

namespace qardex::service_client {

void Record::Write(int client, long index, const std::string& call, const Answer& answer,
                   long long us, const std::string& argument) {
  if (file == nullptr) return;
  const std::string result = answer.outcome == Outcome::Answered ? std::to_string(answer.status)
                                                                 : OutcomeName(answer.outcome);
  std::string line = std::to_string(client) + "\t" + std::to_string(index) + "\t" + call + "\t" +
                     result + "\t" + std::to_string(us) + "\t" + argument + "\t";
  for (const char c : answer.body) line += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
  line += "\n";
  std::lock_guard<std::mutex> hold(lock);
  std::fwrite(line.data(), 1, line.size(), file);
}

Tallies RunClient(SSL_CTX* tls, const RunPlan& plan, int client, Record& record) {
  HttpsLink link(tls, plan.endpoint);
  Tallies tallies;
  const auto exchange = [&](const std::string& name, long index, const std::string& request,
                            const std::string& argument) {
    const auto start = Clock::now();
    Answer answer = link.Exchange(request, start + plan.timeout);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    tallies[name].Add(answer, took);
    record.Write(client, index, name, answer, took.count(), argument);
    return answer;
  };

  std::string session;
  if (std::any_of(plan.calls.begin(), plan.calls.end(),
                  [](const PlannedCall& call) { return call.inSession(); })) {
    const Answer opened = exchange("session", -1, OpenSessionRequest(plan.base), "");
    session = SessionOf(opened.body);
    if (opened.status != 201 || session.empty()) return tallies;
  }
  for (long index = 0;; ++index) {
    if (plan.callsPerClient > 0 ? index >= plan.callsPerClient : Clock::now() >= plan.end) break;
    if (index > 0 && plan.pause.count() > 0) std::this_thread::sleep_for(plan.pause);
    const PlannedCall& call = plan.calls[static_cast<std::size_t>(index) % plan.calls.size()];
    const std::string argument = ArgumentFor(call, client, index);
    exchange(call.method, index,
             call.inSession() ? MethodRequest(plan.base, session, call, argument)
                              : VersionRequest(plan.base),
             argument);
  }
  if (!session.empty()) exchange("close", -1, CloseSessionRequest(plan.base, session), "");
  return tallies;
}

}  // namespace qardex::service_client
