// Command line of qardex-authserver.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testbed/authserver/modes.h"
#include "testbed/authserver/tcp.h"

namespace authserver {

struct Options {
    std::string address = "127.0.0.1";
    std::uint16_t port = 443;
    std::optional<std::array<std::uint8_t, 16>> hello_key;  // --hello-key
    std::string hello_key_tool;                             // --hello-key-tool
    testnet::Bytes card_secret;
    std::vector<Mode> modes;
    std::string log_path;
    std::string ready_path;
    int lifetime_seconds = 300;
    int connection_seconds = 90;
    bool quick_ack = false;
};

struct OptionsResult {
    std::optional<Options> options;
    std::string error;  // "help" when usage was asked for
};

OptionsResult parse_options(const std::vector<std::string>& arguments);

// 32 hexadecimal digits (blanks around them ignored) as the 16-byte HelloKey.
std::optional<std::array<std::uint8_t, 16>> parse_hello_key(const std::string& text);

std::string usage();

}  // namespace authserver
