// The service's own log: start, stop, refusals, worker starts and exits. Never card data.
#pragma once

#include <string_view>

namespace qardex::service {

class ServiceLog {
 public:
  virtual ~ServiceLog() = default;
  // One event; the sink adds the time and the line end. Never throws.
  virtual void Write(std::string_view event) = 0;
};

// A log that drops everything (tests, and a service whose log folder cannot be made safe).
class NoServiceLog final : public ServiceLog {
 public:
  void Write(std::string_view) override {}
};

}  // namespace qardex::service
