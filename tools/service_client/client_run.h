// One client of qardex-service-client: a kept-alive connection, a session when a call needs
// one, then the calls in turn until the call count or the end time is reached.
#pragma once

#include <cstdio>
#include <mutex>
#include <vector>

#include "tools/service_client/call_plan.h"
#include "tools/service_client/call_stats.h"
#include "tools/service_client/https_link.h"

namespace qardex::service_client {

struct RunPlan {
  Endpoint endpoint;
  RequestBase base;
  std::vector<PlannedCall> calls;
  long callsPerClient = 0;           // 0: until `end`
  Clock::time_point end{};           // used when callsPerClient is 0
  std::chrono::seconds timeout{60};  // for each exchange
  // Between two calls of a client, not counted in their times: paced calls, as pages make them.
  std::chrono::milliseconds pause{0};
};

// Lines of the record file: "CLIENT\tINDEX\tCALL\tRESULT\tMICROS\tARGUMENT\tBODY" (RESULT is the
// HTTP status or closed/timeout/failed). Shared by the clients; each line is written whole.
struct Record {
  std::FILE* file = nullptr;
  std::mutex lock;
  void Write(int client, long index, const std::string& call, const Answer& answer, long long us,
             const std::string& argument);
};

// Runs one client and returns its tallies.
Tallies RunClient(SSL_CTX* tls, const RunPlan& plan, int client, Record& record);

}  // namespace qardex::service_client
