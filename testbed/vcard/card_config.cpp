#include "testbed/vcard/card_config.h"

#include <fstream>
#include <set>
#include <sstream>

namespace vcard {
namespace {

constexpr std::string_view kHexSuffix = "_hex";
constexpr std::size_t kMaxStepName = 40;

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// A value in double quotes keeps its blanks; the quotes themselves are dropped.
std::string_view unquote(std::string_view s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

bool ends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Collects the settings of one file, then turns them into a profile.
class ProfileBuilder {
 public:
    // Returns an error text, empty when the line was accepted.
    std::string accept(std::string_view key, std::string_view value) {
        if (!seen_keys_.insert(std::string(base_key(key))).second) {
            return "'" + std::string(base_key(key)) + "' is given more than once";
        }
        if (key.rfind("refuse.", 0) == 0 || key.rfind("answer.", 0) == 0) {
            return accept_fixed_answer(key, value);
        }
        if (key.rfind("hold.", 0) == 0) return accept_hold(key, value);
        if (key.rfind("short.", 0) == 0) return accept_short_answer(key, value);
        if (key == "require_select") return accept_switch(value, profile_.require_select);
        if (key == "basic_data_hex") return accept_bytes(key, value, basic_data_, kMaxResponseData);
        for (const auto& field : kBasicFields) {
            if (base_key(key) == field.key) {
                return accept_padded(key, value, basic_fields_[field.key], field.width);
            }
        }
        if (base_key(key) == "card_data_flag") return accept_padded(key, value, card_flag_, 1);
        if (base_key(key) == "card_data_tail") {
            return accept_bytes(key, value, card_tail_, kMaxResponseData - 1);
        }
        if (base_key(key) == "card_id") return accept_padded(key, value, card_id_, kCardIdLength);
        if (base_key(key) == "sam_secret") return accept_secret(key, value);
        if (base_key(key) == "card_id_extra") {
            return accept_bytes(key, value, card_id_extra_, kMaxResponseData - kCardIdLength);
        }
        return "unknown key '" + std::string(key) + "'";
    }

    ConfigResult finish() {
        if (basic_data_ && !basic_fields_.empty()) {
            return {std::nullopt,
                    "basic_data_hex replaces the whole record; do not combine it with "
                    "the field '" +
                        std::string(basic_fields_.begin()->first) + "'"};
        }
        const CardProfile defaults = default_profile();
        if (basic_data_) {
            profile_.basic_data = *basic_data_;
        } else {
            std::size_t offset = 0;
            for (const auto& field : kBasicFields) {
                auto given = basic_fields_.find(field.key);
                if (given != basic_fields_.end()) {
                    profile_.basic_data.insert(profile_.basic_data.end(), given->second->begin(),
                                               given->second->end());
                } else {
                    profile_.basic_data.insert(profile_.basic_data.end(),
                                               defaults.basic_data.begin() + offset,
                                               defaults.basic_data.begin() + offset + field.width);
                }
                offset += field.width;
            }
        }
        profile_.card_data = card_flag_.value_or(Bytes{defaults.card_data.front()});
        const Bytes tail =
            card_tail_.value_or(Bytes(defaults.card_data.begin() + 1, defaults.card_data.end()));
        profile_.card_data.insert(profile_.card_data.end(), tail.begin(), tail.end());
        profile_.card_id = card_id_.value_or(defaults.card_id);
        const Bytes extra = card_id_extra_.value_or(Bytes{});
        profile_.card_id.insert(profile_.card_id.end(), extra.begin(), extra.end());
        if (profile_.sam_secret.empty()) profile_.sam_secret = defaults.sam_secret;
        return {profile_, {}};
    }

 private:
    static std::string_view base_key(std::string_view key) {
        return ends_with(key, kHexSuffix) ? key.substr(0, key.size() - kHexSuffix.size()) : key;
    }

    // Text is taken byte for byte; "<key>_hex" gives the bytes as hexadecimal.
    static std::string decode(std::string_view key, std::string_view value, Bytes& out) {
        if (!ends_with(key, kHexSuffix)) {
            out = bytes_of(unquote(value));
            return {};
        }
        auto bytes = parse_hex(value);
        if (!bytes)
            return "'" + std::string(key) + "' is not hexadecimal: '" + std::string(value) + "'";
        out = std::move(*bytes);
        return {};
    }

    static std::string too_long(std::string_view key, std::size_t size, std::size_t limit) {
        return "'" + std::string(key) + "' has " + std::to_string(size) + " bytes; at most " +
               std::to_string(limit) + " fit";
    }

    std::string accept_padded(std::string_view key, std::string_view value,
                              std::optional<Bytes>& slot, std::size_t width) {
        Bytes bytes;
        if (auto error = decode(key, value, bytes); !error.empty()) return error;
        if (bytes.size() > width) return too_long(key, bytes.size(), width);
        slot = pad_with_blanks(bytes, width);
        return {};
    }

    std::string accept_bytes(std::string_view key, std::string_view value,
                             std::optional<Bytes>& slot, std::size_t limit) {
        Bytes bytes;
        if (auto error = decode(key, value, bytes); !error.empty()) return error;
        if (bytes.size() > limit) return too_long(key, bytes.size(), limit);
        slot = std::move(bytes);
        return {};
    }

    std::string accept_secret(std::string_view key, std::string_view value) {
        Bytes bytes;
        if (auto error = decode(key, value, bytes); !error.empty()) return error;
        if (bytes.empty()) return "'" + std::string(key) + "' must not be empty";
        if (bytes.size() > kMaxSamSecretLength) {
            return too_long(key, bytes.size(), kMaxSamSecretLength);
        }
        profile_.sam_secret = std::move(bytes);
        return {};
    }

    static std::string accept_switch(std::string_view value, bool& out) {
        if (value == "yes" || value == "true" || value == "1") {
            out = true;
        } else if (value == "no" || value == "false" || value == "0") {
            out = false;
        } else {
            return "expected yes or no, found '" + std::string(value) + "'";
        }
        return {};
    }

    // refuse.<command> = SW1SW2 (the status word alone);
    // answer.<command> = the whole response in hexadecimal, status word included.
    std::string accept_fixed_answer(std::string_view key, std::string_view value) {
        const bool refusal = key.rfind("refuse.", 0) == 0;
        const std::string_view name = key.substr(key.find('.') + 1);
        const auto command = command_by_name(name);
        if (!command)
            return "unknown command '" + std::string(name) + "' in '" + std::string(key) + "'";
        if (profile_.fixed_answers.count(*command)) {
            return "'" + std::string(name) + "' has both a refusal and an answer";
        }
        auto bytes = parse_hex(value);
        if (!bytes)
            return "'" + std::string(key) + "' is not hexadecimal: '" + std::string(value) + "'";
        if (refusal && bytes->size() != 2) {
            return "'" + std::string(key) + "' needs a status word of 2 bytes, e.g. 6A82";
        }
        if (bytes->size() > kMaxResponseData + 2) {
            return too_long(key, bytes->size(), kMaxResponseData + 2);
        }
        profile_.fixed_answers[*command] = std::move(*bytes);
        return {};
    }

    // The command named after the dot of "<kind>.<command>", or nothing with `error` set.
    static std::optional<Command> command_after_dot(std::string_view key, std::string& error) {
        const std::string_view name = key.substr(key.find('.') + 1);
        const auto command = command_by_name(name);
        if (!command)
            error = "unknown command '" + std::string(name) + "' in '" + std::string(key) + "'";
        return command;
    }

    // hold.<command> = STEP: letters, digits, '-' and '_' (the step's file names).
    std::string accept_hold(std::string_view key, std::string_view value) {
        std::string error;
        const auto command = command_after_dot(key, error);
        if (!command) return error;
        const bool usable = !value.empty() && value.size() <= kMaxStepName &&
                            value.find_first_not_of(
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                "abcdefghijklmnopqrstuvwxyz0123456789-_") == std::string_view::npos;
        if (!usable) {
            return "'" + std::string(key) + "' needs a step name of 1 to " +
                   std::to_string(kMaxStepName) + " letters, digits, '-' or '_'";
        }
        profile_.holds[*command] = std::string(value);
        return {};
    }

    // short.<command> = N: the card's own answer keeps only its first N data bytes.
    std::string accept_short_answer(std::string_view key, std::string_view value) {
        std::string error;
        const auto command = command_after_dot(key, error);
        if (!command) return error;
        std::size_t kept = 0;
        const std::string text(value);
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
            text.size() > 3 || (kept = std::stoul(text)) > kMaxResponseData) {
            return "'" + std::string(key) + "' needs a byte count from 0 to " +
                   std::to_string(kMaxResponseData);
        }
        profile_.short_answers[*command] = kept;
        return {};
    }

    CardProfile profile_;
    std::set<std::string> seen_keys_;
    std::optional<Bytes> basic_data_;
    std::map<std::string_view, std::optional<Bytes>> basic_fields_;
    std::optional<Bytes> card_flag_;
    std::optional<Bytes> card_tail_;
    std::optional<Bytes> card_id_;
    std::optional<Bytes> card_id_extra_;
};

}  // namespace

ConfigResult parse_card_config(std::string_view text) {
    ProfileBuilder builder;
    std::size_t line_number = 0;
    while (!text.empty()) {
        ++line_number;
        const auto end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;

        const auto equals = line.find('=');
        const std::string where = "line " + std::to_string(line_number) + ": ";
        if (equals == std::string_view::npos) {
            return {std::nullopt,
                    where + "expected 'key = value', found '" + std::string(line) + "'"};
        }
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        if (key.empty()) return {std::nullopt, where + "missing key before '='"};
        if (auto error = builder.accept(key, value); !error.empty()) {
            return {std::nullopt, where + error};
        }
    }
    return builder.finish();
}

ConfigResult load_card_config(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return {std::nullopt, "cannot read card profile '" + path + "'"};
    std::ostringstream content;
    content << file.rdbuf();
    ConfigResult result = parse_card_config(content.str());
    if (!result.profile) result.error = path + ": " + result.error;
    return result;
}

}  // namespace vcard
