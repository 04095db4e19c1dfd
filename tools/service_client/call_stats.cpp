#include "tools/service_client/call_stats.h"

#include <algorithm>

namespace qardex::service_client {

void CallTally::Add(const Answer& answer, std::chrono::microseconds took) {
  ++count;
  const bool ok = answer.outcome == Outcome::Answered && answer.status / 100 == 2;
  ++results[answer.outcome == Outcome::Answered ? std::to_string(answer.status)
                                                : OutcomeName(answer.outcome)];
  if (ok) okMicros.push_back(took.count());
}

void CallTally::Merge(const CallTally& other) {
  count += other.count;
  for (const auto& [name, n] : other.results) results[name] += n;
  okMicros.insert(okMicros.end(), other.okMicros.begin(), other.okMicros.end());
}

std::string LatencyText(std::vector<long long> micros) {
  std::sort(micros.begin(), micros.end());
  const auto rank = [&](int percent) -> long long {
    if (micros.empty()) return 0;
    const std::size_t n = micros.size();
    const std::size_t at = (n * static_cast<std::size_t>(percent) + 99) / 100;  // 1-based
    return micros[std::max<std::size_t>(at, 1) - 1];
  };
  return "p50_us=" + std::to_string(rank(50)) + " p99_us=" + std::to_string(rank(99)) +
         " max_us=" + std::to_string(micros.empty() ? 0 : micros.back());
}

std::string Report(const Tallies& tallies) {
  std::string out;
  for (const auto& [name, tally] : tallies) {
    out += "call=" + name + " count=" + std::to_string(tally.count) +
           " ok=" + std::to_string(tally.okMicros.size()) + " " + LatencyText(tally.okMicros) +
           " results=";
    const char* separator = "";
    for (const auto& [result, n] : tally.results) {
      out += separator + result + ":" + std::to_string(n);
      separator = ",";
    }
    out += "\n";
  }
  return out;
}

}  // namespace qardex::service_client
