// The service's own log (start, stop, refusals, worker starts and exits) and the native host's.
// Never card data.
#pragma once

#include <memory>
#include <string_view>
#include <utility>

namespace qardex::service {

// What an event is, for a sink that keeps some kinds only (the Windows event log); a note goes
// to the file log alone.
enum class LogEvent {
  kNote,
  kStarted,
  kStopped,
  kNotStarted,
  kRefusals,  // the refused requests of one cause over an interval, summed up
  kWorkerNotStarted,
  kWorkerFailed,  // a worker that ended otherwise than asked
  kWorkerCallFailed,
  kRenewed,
  kRenewalFailed,
  // The native messaging host's: input that is not a message of ours ended it, it refused a
  // caller other than our extensions, it stopped on an unexpected failure.
  kHostBadMessage,
  kHostCallerRefused,
  kHostFailed,
};

class ServiceLog {
 public:
  virtual ~ServiceLog() = default;
  // One event; the sink adds the time and the line end. Never throws.
  void Write(std::string_view event) { Record(LogEvent::kNote, event); }
  void Write(LogEvent kind, std::string_view event) { Record(kind, event); }

 private:
  virtual void Record(LogEvent kind, std::string_view event) = 0;
};

// A log that drops everything (tests, and a service whose log folder cannot be made safe).
class NoServiceLog final : public ServiceLog {
  void Record(LogEvent, std::string_view) override {}
};

// Every event to two sinks, in turn.
class BothLogs final : public ServiceLog {
 public:
  BothLogs(std::unique_ptr<ServiceLog> first, std::unique_ptr<ServiceLog> second)
      : first_(std::move(first)), second_(std::move(second)) {}

 private:
  void Record(LogEvent kind, std::string_view event) override {
    first_->Write(kind, event);
    second_->Write(kind, event);
  }

  const std::unique_ptr<ServiceLog> first_;
  const std::unique_ptr<ServiceLog> second_;
};

}  // namespace qardex::service
