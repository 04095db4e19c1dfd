// The events of the local service and of the native messaging host in the Windows Application
// log, under the event source the installer registers (named as the service): the kinds that
// have a message in service_events.mc, with the log's line as the message's text. Notes stay in
// the program's own log.
#pragma once

#include "common/win_handles.h"
#include "protocol/service_log.h"

namespace qardex::service {

class EventLogSink final : public ServiceLog {
 public:
  EventLogSink();

 private:
  void Record(LogEvent kind, std::string_view event) override;

  const common::EventSource source_;
};

}  // namespace qardex::service
