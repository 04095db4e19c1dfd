#include "testbed/vcard/apdu_log.h"

namespace vcard {

ApduLog::ApduLog(const std::string& path) : file_(path, std::ios::app | std::ios::binary) {}

std::string ApduLog::format_line(const Bytes& command, const Bytes& response) {
    return to_hex(command) + " -> " + to_hex(response) + "\n";
}

void ApduLog::record(const Bytes& command, const Bytes& response) {
    // Flushed per line: the scenario reads the file while the card still runs.
    file_ << format_line(command, response) << std::flush;
}

}  // namespace vcard
