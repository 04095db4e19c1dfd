#include "testbed/authserver/modes.h"

#include <array>
#include <cstdlib>

namespace authserver {
namespace {

constexpr std::size_t kMaxConnections = 10000;
constexpr int kMaxSeconds = 3600;

struct ModeInfo {
    ModeKind kind;
    std::string_view name;
    bool takes_seconds;
    std::string_view help;
};

constexpr std::array<ModeInfo, 20> kModes = {{
    {ModeKind::kNormal, "normal", false, "the whole dialogue"},
    {ModeKind::kSplit, "split", false, "every reply in three pieces, 200 ms apart"},
    {ModeKind::kSlowHello, "slow-hello", true, "wait SECONDS before the Hello reply"},
    {ModeKind::kSlow02, "slow-02", true, "wait SECONDS before the \"02\" reply"},
    {ModeKind::kSlowFinal, "slow-final", true, "wait SECONDS before the final reply"},
    {ModeKind::kTrickle02, "trickle-02", false, "send 8 bytes of the \"02\" reply, then nothing"},
    {ModeKind::kHelloSilent, "hello-silent", false, "read the Hello, never answer"},
    {ModeKind::kHelloClose, "hello-close", false, "read the Hello, close"},
    {ModeKind::kHelloEmpty, "hello-empty", false, "answer the Hello with \"<E>\" alone"},
    {ModeKind::kHelloBadPadding, "hello-bad-padding", false, "last Hello reply plaintext byte 9"},
    {ModeKind::kHelloNotHello, "hello-not-hello", false, "Hello reply starting \"Howdy\""},
    {ModeKind::kBadServerKey, "bad-server-key", false, "unreadable public key text"},
    {ModeKind::kBadSecretBlock, "bad-secret-block", false, "RSA block that cannot be deciphered"},
    {ModeKind::kReply02Long, "reply02-45", false, "\"02\" reply of 45 bytes after unpadding"},
    {ModeKind::kReply02Not02, "reply02-not02", false, "\"02\" reply starting \"0X\""},
    {ModeKind::kReply02Close, "reply02-close", false, "close instead of the \"02\" reply"},
    {ModeKind::kWrongSamData, "wrong-sam-data", false, "SAM data the card refuses"},
    {ModeKind::kFinalNotOk, "final-not-ok", false, "final reply with \"NO\" for \"OK\""},
    {ModeKind::kFinalClose, "final-close", false, "close instead of the final reply"},
    {ModeKind::kAcceptClose, "accept-close", false, "close right after accepting"},
}};

std::optional<long> parse_count(std::string_view text, long max) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos) {
        return std::nullopt;
    }
    const long value = std::strtol(std::string(text).c_str(), nullptr, 10);
    if (value > max) return std::nullopt;
    return value;
}

}  // namespace

std::string_view mode_name(ModeKind kind) {
    for (const auto& info : kModes) {
        if (info.kind == kind) return info.name;
    }
    return "?";
}

ModeListResult parse_mode_list(std::string_view text) {
    ModeListResult result;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == text.npos ? std::string_view{} : text.substr(comma + 1);

        long count = 1;
        if (const std::size_t star = item.find('*'); star != item.npos) {
            const auto parsed = parse_count(item.substr(star + 1), kMaxConnections);
            if (!parsed || *parsed < 1) return {{}, "bad count in '" + std::string(item) + "'"};
            count = *parsed;
            item = item.substr(0, star);
        }
        Mode mode;
        std::string_view name = item;
        std::optional<long> seconds;
        if (const std::size_t colon = item.find(':'); colon != item.npos) {
            name = item.substr(0, colon);
            seconds = parse_count(item.substr(colon + 1), kMaxSeconds);
            if (!seconds) return {{}, "bad number of seconds in '" + std::string(item) + "'"};
        }
        const ModeInfo* info = nullptr;
        for (const auto& candidate : kModes) {
            if (candidate.name == name) info = &candidate;
        }
        if (info == nullptr) return {{}, "unknown mode '" + std::string(name) + "'"};
        if (info->takes_seconds != seconds.has_value()) {
            return {{},
                    "mode '" + std::string(name) +
                        (info->takes_seconds ? "' needs ':SECONDS'" : "' takes no seconds")};
        }
        mode.kind = info->kind;
        mode.seconds = static_cast<int>(seconds.value_or(0));
        if (result.modes.size() + static_cast<std::size_t>(count) > kMaxConnections) {
            return {{}, "more than 10000 connections"};
        }
        result.modes.insert(result.modes.end(), static_cast<std::size_t>(count), mode);
    }
    if (result.modes.empty()) result.error = "no mode given";
    return result;
}

std::string describe_modes() {
    std::string text;
    for (const auto& info : kModes) {
        std::string name(info.name);
        if (info.takes_seconds) name += ":SECONDS";
        name.resize(22, ' ');
        text += "  " + name + std::string(info.help) + "\n";
    }
    return text;
}

}  // namespace authserver
