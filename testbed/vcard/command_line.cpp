#include "testbed/vcard/command_line.h"

#include <cstdlib>

namespace vcard {

const char kUsage[] =
    "usage: qardex-vcard --port PORT [--host ADDRESS] [--profile FILE] [--apdu-log FILE]\n"
    "                    [--wait SECONDS] [--sync-dir DIR]\n"
    "Plays an HC card for the vpcd reader listening on ADDRESS:PORT (default 127.0.0.1).\n"
    "  --profile FILE   card contents and behaviour (key = value lines, see README.md)\n"
    "  --apdu-log FILE  append one line per APDU: COMMAND -> RESPONSE (hex)\n"
    "  --wait SECONDS   how long to retry while vpcd is not listening yet (default 30)\n"
    "  --sync-dir DIR   where a held step is announced (STEP.request) and released (STEP.done)\n"
    "Exit status: 0 when vpcd closes the link, 1 on a link failure, 2 on bad options or profile.\n";

namespace {

std::optional<unsigned long> parse_number(const std::string& text, unsigned long max) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    if (text.size() > 9) return std::nullopt;
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value > max) return std::nullopt;
    return value;
}

}  // namespace

OptionsResult parse_command_line(const std::vector<std::string>& arguments) {
    Options options;
    bool have_port = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h") return {std::nullopt, "help"};
        if (i + 1 >= arguments.size()) return {std::nullopt, "missing value after " + name};
        const std::string& value = arguments[++i];
        if (name == "--port") {
            const auto port = parse_number(value, 65535);
            if (!port || *port == 0) return {std::nullopt, "bad port '" + value + "'"};
            options.port = static_cast<std::uint16_t>(*port);
            have_port = true;
        } else if (name == "--host") {
            options.host = value;
        } else if (name == "--profile") {
            options.profile_path = value;
        } else if (name == "--apdu-log") {
            options.apdu_log_path = value;
        } else if (name == "--sync-dir") {
            options.sync_dir = value;
        } else if (name == "--wait") {
            const auto seconds = parse_number(value, 3600);
            if (!seconds) return {std::nullopt, "bad number of seconds '" + value + "'"};
            options.connect_patience = std::chrono::seconds(*seconds);
        } else {
            return {std::nullopt, "unknown option " + name};
        }
    }
    if (!have_port) return {std::nullopt, "--port is required"};
    return {options, {}};
}

}  // namespace vcard
