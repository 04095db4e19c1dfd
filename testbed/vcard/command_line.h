// Options of qardex-vcard.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vcard {

struct Options {
    std::uint16_t port = 0;
    std::string host = "127.0.0.1";
    std::string profile_path;   // empty: the default card
    std::string apdu_log_path;  // empty: no log
    std::string sync_dir;       // where held steps are announced and released (step_hold.h)
    std::chrono::milliseconds connect_patience{30000};
};

struct OptionsResult {
    std::optional<Options> options;
    std::string error;  // set when options is empty; "help" when usage was asked for
};

OptionsResult parse_command_line(const std::vector<std::string>& arguments);

extern const char kUsage[];

}  // namespace vcard
