#include "testbed/vcard/hc_commands.h"

#include <algorithm>

namespace vcard {
namespace {

struct CommandInfo {
    Command command;
    std::string_view name;
    Bytes bytes;
};

const std::array<CommandInfo, 7>& command_table() {
    static const std::array<CommandInfo, 7> table = {{
        {Command::kSelect, "select", {0x00, 0xA4, 0x04, 0x00, 0x10, 0xD1, 0x58,
                                      0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00}},
        {Command::kSelect31, "select31", {0x00, 0xA4, 0x04, 0x00, 0x10, 0xD1, 0x58,
                                          0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00}},
        {Command::kReadId, "read_id", {0x00, 0xCA, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}},
        {Command::kReadBasic, "read_basic", {0x00, 0xCA, 0x11, 0x00, 0x02, 0x00, 0x00, 0x00}},
        {Command::kReadCardData,
         "read_card_data",
         {0x00, 0xCA, 0x24, 0x00, 0x02, 0x00, 0x00, 0x00}},
        {Command::kGetChallenge, "get_challenge", {0x00, 0x84, 0x00, 0x00, 0x08}},
        {Command::kMutualAuth, "mutual_auth", {0x00, 0x82, 0x11, 0x12, 0x20}},
    }};
    return table;
}

const CommandInfo& info(Command command) {
    for (const auto& entry : command_table()) {
        if (entry.command == command) return entry;
    }
    return command_table().front();  // unreachable: every enumerator has an entry
}

bool is_mutual_auth(const Bytes& apdu) {
    const Bytes& header = info(Command::kMutualAuth).bytes;
    const std::size_t expected = header.size() + kMutualAuthDataLength + 1;
    return apdu.size() == expected && std::equal(header.begin(), header.end(), apdu.begin()) &&
           apdu.back() == 0x10;
}

}  // namespace

std::string_view command_name(Command command) { return info(command).name; }

std::optional<Command> command_by_name(std::string_view name) {
    for (const auto& entry : command_table()) {
        if (entry.name == name) return entry.command;
    }
    return std::nullopt;
}

const Bytes& command_bytes(Command command) { return info(command).bytes; }

std::optional<Command> identify(const Bytes& apdu) {
    if (is_mutual_auth(apdu)) return Command::kMutualAuth;
    for (const auto& entry : command_table()) {
        if (entry.command != Command::kMutualAuth && entry.bytes == apdu) return entry.command;
    }
    return std::nullopt;
}

}  // namespace vcard
