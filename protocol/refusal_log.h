// Refused requests in the service's log without letting a flood of them push the log's earlier
// lines out: a connection's refusal is written once, each cause gets at most a few lines a
// minute, and when its minute is over one summary counts them all (the only line of them the
// Windows event log takes).
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "protocol/service_clock.h"
#include "protocol/service_log.h"

namespace qardex::service {

struct RefusalLimits {
  std::chrono::steady_clock::duration window = std::chrono::minutes(1);
  std::size_t linesPerWindow = 3;
};

class RefusalLog {
 public:
  RefusalLog(ServiceLog& log, SteadyClock clock, RefusalLimits limits = {});

  // A refused request: `line` goes to the log while its cause has lines left this minute.
  void Refused(std::string_view cause, std::string_view line);
  // Another refused request of a connection whose refusal was written: only counted.
  void Repeated(std::string_view cause);
  // Writes the summary of every cause whose minute is over (called about once a second), or of
  // every cause when the service stops.
  void Flush(bool stopping = false);

 private:
  struct Cause {
    std::chrono::steady_clock::time_point since;
    std::size_t written = 0;
    std::size_t held = 0;  // refused, not written one by one
  };
  // The cause's count for now, after the summary of a minute that is over.
  Cause& Current(std::string_view cause, std::chrono::steady_clock::time_point now);
  void Summarise(const std::string& cause, Cause& counts);

  ServiceLog& log_;
  const SteadyClock clock_;
  const RefusalLimits limits_;
  std::mutex lock_;
  std::map<std::string, Cause, std::less<>> causes_;
};

}  // namespace qardex::service
