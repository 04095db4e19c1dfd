// Uppercase hexadecimal text of bytes, and the strict reverse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qardex::crypto {

// Writes two uppercase digits per byte ("%02X"), no separators and no terminator, and returns
// the number of characters (2 * count); nullopt (writing nothing) when they exceed `capacity`.
std::optional<std::size_t> HexUpper(const std::uint8_t* bytes, std::size_t count, char* output,
                                    std::size_t capacity);
std::string HexUpper(const std::uint8_t* bytes, std::size_t count);
// Two lowercase digits per byte: names and identifiers of our own (session ids, pipe names, key
// digests).
std::string HexLower(const std::uint8_t* bytes, std::size_t count);

enum class HexParseStatus { kOk, kOddLength, kNotHexDigit };

// Accepts an even number of digits of either case and nothing else (no blanks, no prefix).
// `bytes` is replaced on success and left unchanged otherwise.
HexParseStatus ParseHex(std::string_view text, std::vector<std::uint8_t>* bytes);

}  // namespace qardex::crypto
