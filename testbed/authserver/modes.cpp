#include "testbed/authserver/modes.h"

#include <array>

#include "testbed/mode_list.h"

namespace authserver {
namespace {

constexpr int kMaxSeconds = 3600;

struct ModeInfo {
    ModeKind kind;
    std::string_view name;
    bool takes_seconds;
    std::string_view help;
};

constexpr std::array<ModeInfo, 23> kModes = {{
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
    {ModeKind::kCloseAfterHelloReply, "close-after-hello-reply", false,
     "send the Hello reply, close"},
    {ModeKind::kCloseAfterKey, "close-after-key", false, "read the key message, close"},
    {ModeKind::kCloseAfter02, "close-after-02", false, "send the \"02\" reply, close"},
}};

}  // namespace

std::string_view mode_name(ModeKind kind) {
    for (const auto& info : kModes) {
        if (info.kind == kind) return info.name;
    }
    return "?";
}

ModeListResult parse_mode_list(std::string_view text) {
    ModeListResult result;
    // One item: NAME or NAME:SECONDS for the modes that take a delay.
    auto lookup = [](std::string_view item, std::string* error) -> std::optional<Mode> {
        std::string_view name = item;
        std::optional<long> seconds;
        if (const std::size_t colon = item.find(':'); colon != item.npos) {
            name = item.substr(0, colon);
            seconds = testbed::ReadSmallNumber(item.substr(colon + 1), kMaxSeconds);
            if (!seconds) {
                *error = "bad number of seconds in '" + std::string(item) + "'";
                return std::nullopt;
            }
        }
        const ModeInfo* info = nullptr;
        for (const auto& candidate : kModes) {
            if (candidate.name == name) info = &candidate;
        }
        if (info == nullptr) {
            *error = "unknown mode '" + std::string(name) + "'";
            return std::nullopt;
        }
        if (info->takes_seconds != seconds.has_value()) {
            *error = "mode '" + std::string(name) +
                     (info->takes_seconds ? "' needs ':SECONDS'" : "' takes no seconds");
            return std::nullopt;
        }
        return Mode{info->kind, static_cast<int>(seconds.value_or(0))};
    };
    if (auto modes = testbed::ExpandModeList<Mode>(text, lookup, &result.error)) {
        result.modes = std::move(*modes);
    }
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
