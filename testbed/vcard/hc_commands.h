// The fixed command APDUs the HC card understands, and the names profiles use for them.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "testbed/vcard/bytes.h"

namespace vcard {

enum class Command {
    kSelect,
    kSelect31,
    kReadId,
    kReadBasic,
    kReadCardData,
    kGetChallenge,
    kMutualAuth,
};

inline constexpr std::array<Command, 7> kAllCommands = {
    Command::kSelect,       Command::kSelect31,     Command::kReadId,     Command::kReadBasic,
    Command::kReadCardData, Command::kGetChallenge, Command::kMutualAuth,
};

// Name used in profile keys ("refuse.read_basic") and in messages.
std::string_view command_name(Command command);
std::optional<Command> command_by_name(std::string_view name);

// Instruction bytes (ISO 7816-4).
inline constexpr std::uint8_t kInsSelect = 0xA4;
inline constexpr std::uint8_t kInsGetData = 0xCA;
inline constexpr std::uint8_t kInsGetChallenge = 0x84;
inline constexpr std::uint8_t kInsMutualAuth = 0x82;

inline constexpr std::size_t kMutualAuthDataLength = 32;
inline constexpr std::size_t kChallengeLength = 8;

// The whole command for every fixed command; for kMutualAuth only its 5-byte header.
const Bytes& command_bytes(Command command);

// Which command an APDU is, when it matches one exactly (MUTUAL AUTHENTICATE: header,
// 32 data bytes and Le 10).
std::optional<Command> identify(const Bytes& apdu);

}  // namespace vcard
