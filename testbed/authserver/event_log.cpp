#include "testbed/authserver/event_log.h"

namespace testnet {

EventLog::EventLog(const std::string& path) {
    if (path.empty()) {
        to_stderr_ = true;
    } else {
        file_.reset(std::fopen(path.c_str(), "a"));
    }
}

void EventLog::write(int connection, const std::string& key, const std::string& value) {
    std::FILE* out = file_ ? file_.get() : stderr;
    if (!file_ && !to_stderr_) return;
    std::fprintf(out, "%d %s%s%s\n", connection, key.c_str(), value.empty() ? "" : " ",
                 value.c_str());
    std::fflush(out);
}

}  // namespace testnet
