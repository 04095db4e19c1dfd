// qardex-service-client: a load and latency client for the local service. CLIENTS threads each
// keep one HTTPS connection alive (keep-alive), open a session when a call needs one, and make
// the calls in turn, all starting together; it prints one summary line, then one line per call.
//
//   qardex-service-client --ca FILE --origin URL [--host NAME] [--port N] [--address IPV4]
//       [--clients N] [--calls N | --seconds S] [--timeout S] [--pause MS] [--record FILE]
//       CALL...
//
// CALL is "version" (GET /v1/version) or METHOD[:ARGUMENT] (see call_plan.h). Defaults: the
// build's host name and port, one client, one call each, 60 s for each exchange, no pause
// between a client's calls.
// Summary: "clients=N seconds=T calls=N ok=N rate=R closed=N timeouts=N failed=N", where rate
// is successful calls per second and closed/timeouts/failed count exchanges of any kind.
// Exit status 0 when every exchange got a 2xx answer, 1 otherwise, 2 for a usage error.
#include <openssl/ssl.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "qardex_constants.h"
#include "tools/service_client/client_run.h"

namespace {

using namespace qardex::service_client;

constexpr char kUsage[] =
    "usage: qardex-service-client --ca FILE --origin URL [--host NAME] [--port N]\n"
    "         [--address IPV4] [--clients N] [--calls N | --seconds S] [--timeout S]\n"
    "         [--pause MS] [--record FILE] CALL...   (CALL: version | METHOD | METHOD:ARGUMENT)\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "qardex-service-client: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

bool Number(const std::string& text, long low, long high, long& value) {
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
  RunPlan plan;
  plan.endpoint.host = qardex::build::kLocalServiceHost;
  long port = qardex::build::kLocalServicePort, clients = 1, calls = 0, seconds = 0, timeout = 60,
       pause = 0;
  std::string caFile, recordFile;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name.rfind("--", 0) != 0) {
      const auto call = ParseCall(name);
      if (!call) return Usage("not a call: " + name);
      plan.calls.push_back(*call);
      continue;
    }
    if (i + 1 >= argc) return Usage(name + " needs a value");
    const std::string value = argv[++i];
    bool ok = true;
    if (name == "--ca")
      caFile = value;
    else if (name == "--origin")
      plan.base.origin = value;
    else if (name == "--host")
      plan.endpoint.host = value;
    else if (name == "--address")
      plan.endpoint.address = value;
    else if (name == "--record")
      recordFile = value;
    else if (name == "--port")
      ok = Number(value, 1, 65535, port);
    else if (name == "--clients")
      ok = Number(value, 1, 1000, clients);
    else if (name == "--calls")
      ok = Number(value, 1, 100000000, calls);
    else if (name == "--seconds")
      ok = Number(value, 1, 86400, seconds);
    else if (name == "--timeout")
      ok = Number(value, 1, 3600, timeout);
    else if (name == "--pause")
      ok = Number(value, 0, 60000, pause);
    else
      return Usage("unknown option " + name);
    if (!ok) return Usage("bad value for " + name + ": " + value);
  }
  if (caFile.empty() || plan.base.origin.empty()) return Usage("--ca and --origin are needed");
  if (plan.calls.empty()) return Usage("no CALL");
  if (calls > 0 && seconds > 0) return Usage("--calls or --seconds, not both");
  plan.endpoint.port = static_cast<int>(port);
  plan.base.host = plan.endpoint.host + ":" + std::to_string(port);
  plan.callsPerClient = calls > 0 || seconds > 0 ? calls : 1;
  plan.timeout = std::chrono::seconds(timeout);
  plan.pause = std::chrono::milliseconds(pause);

  const auto tls = MakeClientContext(caFile);
  if (!tls) return Usage("cannot read the certificates of " + caFile);
  Record record;
  std::unique_ptr<std::FILE, decltype(&std::fclose)> recordHandle(nullptr, &std::fclose);
  if (!recordFile.empty()) {
    recordHandle.reset(std::fopen(recordFile.c_str(), "w"));
    if (!recordHandle) return Usage("cannot write " + recordFile);
    record.file = recordHandle.get();
  }

  // The clients start together, so that CLIENTS connections arrive at once.
  std::mutex lock;
  std::condition_variable go;
  bool started = false;
  Tallies all;
  std::vector<std::thread> threads;
  for (int client = 0; client < clients; ++client) {
    threads.emplace_back([&, client] {
      {
        std::unique_lock<std::mutex> hold(lock);
        go.wait(hold, [&] { return started; });
      }
      const Tallies mine = RunClient(tls.get(), plan, client, record);
      std::lock_guard<std::mutex> hold(lock);
      for (const auto& [call, tally] : mine) all[call].Merge(tally);
    });
  }
  const auto start = Clock::now();
  {
    std::lock_guard<std::mutex> hold(lock);
    plan.end = start + std::chrono::seconds(seconds);
    started = true;
  }
  go.notify_all();
  for (std::thread& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  long made = 0, ok = 0, closed = 0, timeouts = 0, failed = 0, exchanges = 0;
  for (const auto& [call, tally] : all) {
    exchanges += tally.count;
    const auto count = [&](const char* result) {
      const auto found = tally.results.find(result);
      return found == tally.results.end() ? 0L : found->second;
    };
    closed += count("closed");
    timeouts += count("timeout");
    failed += count("failed");
    if (call == "session" || call == "close") {
      failed += tally.count - static_cast<long>(tally.okMicros.size()) - count("closed") -
                count("timeout") - count("failed");
      continue;
    }
    made += tally.count;
    ok += static_cast<long>(tally.okMicros.size());
  }
  std::printf(
      "clients=%ld seconds=%.2f calls=%ld ok=%ld rate=%.1f closed=%ld timeouts=%ld "
      "failed=%ld\n%s",
      clients, elapsed, made, ok, elapsed > 0 ? ok / elapsed : 0.0, closed, timeouts, failed,
      Report(all).c_str());
  long good = 0;
  for (const auto& [call, tally] : all) good += static_cast<long>(tally.okMicros.size());
  return good == exchanges ? 0 : 1;
}
