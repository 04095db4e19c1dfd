#include "protocol/event_log_win.h"

#include <optional>
#include <string>

#include "common/text_conversion.h"
#include "qardex_constants.h"
#include "service_events.h"

namespace qardex::service {

namespace {

struct EventEntry {
  DWORD id;
  WORD type;
};

std::optional<EventEntry> EntryFor(LogEvent kind) {
  switch (kind) {
    case LogEvent::kNote:
      return std::nullopt;
    case LogEvent::kStarted:
      return EventEntry{QX_EVENT_SERVICE_STARTED, EVENTLOG_INFORMATION_TYPE};
    case LogEvent::kStopped:
      return EventEntry{QX_EVENT_SERVICE_STOPPED, EVENTLOG_INFORMATION_TYPE};
    case LogEvent::kNotStarted:
      return EventEntry{QX_EVENT_SERVICE_NOT_STARTED, EVENTLOG_ERROR_TYPE};
    case LogEvent::kRefusals:
      return EventEntry{QX_EVENT_REQUESTS_REFUSED, EVENTLOG_WARNING_TYPE};
    case LogEvent::kWorkerNotStarted:
      return EventEntry{QX_EVENT_WORKER_NOT_STARTED, EVENTLOG_ERROR_TYPE};
    case LogEvent::kWorkerFailed:
      return EventEntry{QX_EVENT_WORKER_FAILED, EVENTLOG_WARNING_TYPE};
    case LogEvent::kWorkerCallFailed:
      return EventEntry{QX_EVENT_WORKER_CALL_FAILED, EVENTLOG_WARNING_TYPE};
    case LogEvent::kRenewed:
      return EventEntry{QX_EVENT_CERTIFICATE_RENEWED, EVENTLOG_INFORMATION_TYPE};
    case LogEvent::kRenewalFailed:
      return EventEntry{QX_EVENT_CERTIFICATE_RENEWAL_FAILED, EVENTLOG_ERROR_TYPE};
    case LogEvent::kHostBadMessage:
      return EventEntry{QX_EVENT_HOST_BAD_MESSAGE, EVENTLOG_ERROR_TYPE};
    case LogEvent::kHostCallerRefused:
      return EventEntry{QX_EVENT_HOST_CALLER_REFUSED, EVENTLOG_WARNING_TYPE};
    case LogEvent::kHostFailed:
      return EventEntry{QX_EVENT_HOST_FAILED, EVENTLOG_ERROR_TYPE};
  }
  return std::nullopt;
}

// The event log takes texts of up to 31,839 characters; our lines are far shorter, and cut
// where they are not.
constexpr std::size_t kLongestText = 2000;

}  // namespace

EventLogSink::EventLogSink()
    : source_(RegisterEventSourceW(nullptr, common::Utf8ToWide(build::kServiceName).c_str())) {}

void EventLogSink::Record(LogEvent kind, std::string_view event) {
  const std::optional<EventEntry> entry = EntryFor(kind);
  if (!source_ || !entry) return;
  try {
    const std::wstring text = common::Utf8ToWide(std::string(event.substr(0, kLongestText)));
    const wchar_t* strings[] = {text.c_str()};
    ReportEventW(source_.get(), entry->type, 0, entry->id, nullptr, 1, 0, strings, nullptr);
  } catch (...) {
    // An event that cannot be made is lost; the file log has its line.
  }
}

}  // namespace qardex::service
