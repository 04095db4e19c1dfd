#include "protocol/refusal_log.h"

#include <utility>

namespace qardex::service {

RefusalLog::RefusalLog(ServiceLog& log, SteadyClock clock, RefusalLimits limits)
    : log_(log), clock_(std::move(clock)), limits_(limits) {}

void RefusalLog::Summarise(const std::string& cause, Cause& counts) {
  const std::size_t refused = counts.written + counts.held;
  if (refused > 0) {
    log_.Write(LogEvent::kRefusals, std::to_string(refused) + " refused requests (" + cause +
                                        ") in the last minute, " + std::to_string(counts.held) +
                                        " of them not written one by one");
  }
  counts.written = 0;
  counts.held = 0;
}

RefusalLog::Cause& RefusalLog::Current(std::string_view cause,
                                       std::chrono::steady_clock::time_point now) {
  auto found = causes_.find(cause);
  if (found == causes_.end()) {
    found = causes_.emplace(std::string(cause), Cause{now}).first;
  } else if (now - found->second.since >= limits_.window) {
    Summarise(found->first, found->second);
    found->second = Cause{now};
  }
  return found->second;
}

void RefusalLog::Refused(std::string_view cause, std::string_view line) {
  try {
    std::lock_guard<std::mutex> hold(lock_);
    Cause& counts = Current(cause, clock_());
    if (counts.written < limits_.linesPerWindow) {
      ++counts.written;
      log_.Write(line);
    } else {
      ++counts.held;
    }
  } catch (...) {
    // A refusal that cannot be counted is lost; the answer still goes out.
  }
}

void RefusalLog::Repeated(std::string_view cause) {
  try {
    std::lock_guard<std::mutex> hold(lock_);
    ++Current(cause, clock_()).held;
  } catch (...) {
  }
}

void RefusalLog::Flush(bool stopping) {
  try {
    std::lock_guard<std::mutex> hold(lock_);
    const auto now = clock_();
    for (auto it = causes_.begin(); it != causes_.end();) {
      if (!stopping && now - it->second.since < limits_.window) {
        ++it;
        continue;
      }
      Summarise(it->first, it->second);
      it = causes_.erase(it);
    }
  } catch (...) {
  }
}

}  // namespace qardex::service
