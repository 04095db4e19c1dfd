#include "testbed/authserver/options.h"

#include <cstdlib>
#include <string_view>

#include "testbed/authserver/sam.h"

namespace authserver {
namespace {

std::optional<long> parse_number(const std::string& text, long min, long max) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos) {
        return std::nullopt;
    }
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < min || value > max) return std::nullopt;
    return value;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<testnet::Bytes> parse_hex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    testnet::Bytes out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_digit(text[i]);
        const int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return out;
}

}  // namespace

std::optional<std::array<std::uint8_t, 16>> parse_hello_key(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    if (first == std::string::npos) return std::nullopt;
    const auto bytes = parse_hex(text.substr(first, last - first + 1));
    if (!bytes || bytes->size() != 16) return std::nullopt;
    std::array<std::uint8_t, 16> key{};
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

std::string usage() {
    return "usage: qardex-authserver (--hello-key HEX | --hello-key-tool PATH) [--port PORT]\n"
           "         [--address IPV4] [--modes LIST] [--card-secret TEXT | --card-secret-hex HEX]\n"
           "         [--log FILE] [--ready-file FILE] [--lifetime SECONDS]\n"
           "         [--connection-limit SECONDS] [--quick-ack]\n"
           "Test authentication server on ADDRESS:PORT (default 127.0.0.1:443). Serves one\n"
           "connection per mode of LIST (default normal*100), one after the other, and exits when\n"
           "the list is used up or after --lifetime seconds (default 300).\n"
           "  --hello-key-tool PATH  run 'PATH hello-key' for the HelloKey (32 hex digits)\n"
           "  --card-secret TEXT     the secret shared with the cards (default HC-SAM-SHARED-01)\n"
           "  --log FILE             append one line per event: CONNECTION KEY VALUE\n"
           "  --ready-file FILE      created once the server listens\n"
           "  --connection-limit S   longest time spent on one connection (default 90)\n"
           "  --quick-ack            acknowledge every read at once (TCP_QUICKACK)\n"
           "Modes (LIST items: NAME, NAME:SECONDS, and either with *COUNT):\n" +
           describe_modes();
}

OptionsResult parse_options(const std::vector<std::string>& arguments) {
    Options options;
    const std::string_view default_secret = kDefaultCardSecret;
    options.card_secret.assign(default_secret.begin(), default_secret.end());
    options.modes = parse_mode_list("normal*100").modes;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h") return {std::nullopt, "help"};
        if (name == "--quick-ack") {
            options.quick_ack = true;
            continue;
        }
        if (i + 1 >= arguments.size()) return {std::nullopt, "missing value after " + name};
        const std::string& value = arguments[++i];
        if (name == "--port") {
            const auto port = parse_number(value, 1, 65535);
            if (!port) return {std::nullopt, "bad port '" + value + "'"};
            options.port = static_cast<std::uint16_t>(*port);
        } else if (name == "--address") {
            options.address = value;
        } else if (name == "--hello-key") {
            options.hello_key = parse_hello_key(value);
            if (!options.hello_key) return {std::nullopt, "--hello-key needs 32 hex digits"};
        } else if (name == "--hello-key-tool") {
            options.hello_key_tool = value;
        } else if (name == "--card-secret") {
            options.card_secret.assign(value.begin(), value.end());
        } else if (name == "--card-secret-hex") {
            const auto bytes = parse_hex(value);
            if (!bytes) return {std::nullopt, "--card-secret-hex is not hexadecimal"};
            options.card_secret = *bytes;
        } else if (name == "--modes") {
            auto parsed = parse_mode_list(value);
            if (!parsed.error.empty()) return {std::nullopt, parsed.error};
            options.modes = std::move(parsed.modes);
        } else if (name == "--log") {
            options.log_path = value;
        } else if (name == "--ready-file") {
            options.ready_path = value;
        } else if (name == "--lifetime") {
            const auto seconds = parse_number(value, 1, 86400);
            if (!seconds) return {std::nullopt, "bad --lifetime '" + value + "'"};
            options.lifetime_seconds = static_cast<int>(*seconds);
        } else if (name == "--connection-limit") {
            const auto seconds = parse_number(value, 1, 3600);
            if (!seconds) return {std::nullopt, "bad --connection-limit '" + value + "'"};
            options.connection_seconds = static_cast<int>(*seconds);
        } else {
            return {std::nullopt, "unknown option " + name};
        }
    }
    if (!options.hello_key && options.hello_key_tool.empty()) {
        return {std::nullopt, "give --hello-key or --hello-key-tool"};
    }
    if (options.card_secret.empty()) return {std::nullopt, "the card secret must not be empty"};
    return {options, {}};
}

}  // namespace authserver
