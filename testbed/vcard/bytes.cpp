#include "testbed/vcard/bytes.h"

namespace vcard {
namespace {

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ':'; }

}  // namespace

std::optional<Bytes> parse_hex(std::string_view text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (is_separator(c)) {
            if (high >= 0) return std::nullopt;  // a separator may not split a byte
            continue;
        }
        const int value = digit_value(c);
        if (value < 0) return std::nullopt;
        if (high < 0) {
            high = value;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + value));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return out;
}

std::string to_hex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace vcard
