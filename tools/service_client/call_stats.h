// Per-call tallies of qardex-service-client: outcomes, HTTP statuses and the latencies of the
// calls that succeeded, merged over the clients and printed as one line per call name.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tools/service_client/answer.h"

namespace qardex::service_client {

struct CallTally {
  long count = 0;
  std::map<std::string, long> results;  // "200", "429", "closed", "timeout", ...
  std::vector<long long> okMicros;      // latencies of the 2xx answers
  void Add(const Answer& answer, std::chrono::microseconds took);
  void Merge(const CallTally& other);
};

using Tallies = std::map<std::string, CallTally>;  // by call name

// "p50_us=... p99_us=... max_us=..." (nearest rank) of sorted latencies; zeros when empty.
std::string LatencyText(std::vector<long long> micros);

// One line per call name: "call=NAME count=N ok=N p50_us=.. p99_us=.. max_us=.. results=200:N,..."
std::string Report(const Tallies& tallies);

}  // namespace qardex::service_client
