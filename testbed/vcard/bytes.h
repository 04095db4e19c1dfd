// Byte strings and their hexadecimal text form, as used in card profiles and the APDU log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vcard {

using Bytes = std::vector<std::uint8_t>;

// Reads hexadecimal digits; blanks, tabs and ':' between byte pairs are ignored.
// Returns nothing for an odd number of digits or any other character.
std::optional<Bytes> parse_hex(std::string_view text);

// Uppercase digits without separators, e.g. "00A40400".
std::string to_hex(const Bytes& bytes);

Bytes bytes_of(std::string_view text);

}  // namespace vcard
