// Every key the control enciphers with, and the fixed material they are built from. The fixed
// values live only in key_material.cpp; whoever deciphers the results needs the same values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/calendar_date.h"
#include "crypto/tdea.h"

namespace qardex::crypto {

inline constexpr std::size_t kCardNumberLength = 12;
using CardNumber = std::array<std::uint8_t, kCardNumberLength>;

inline constexpr std::size_t kHelloKeyLength = 16;
using HelloKey = std::array<std::uint8_t, kHelloKeyLength>;

// The same in every call; picked byte by byte out of the key byte table.
TdeaKey BuildFixedKey();
// Picked the same way through its own index list. It contains no zero byte, so it also serves
// as a zero-terminated passphrase.
HelloKey BuildHelloKey();

// "%02d%02d%04d" of month, day and year, three times over: 24 ASCII digits, three equal
// thirds. Callers pass the UTC date.
TdeaKey BuildDateKey(const CalendarDate& utcDate);

// Bytes 0-19: SHA-1 of the card number followed by "%04d%02d%02d" of the local date (20
// bytes of message). Bytes 20-23: the fixed tail constant, most significant byte first.
TdeaKey BuildCardKey(const CardNumber& cardNumber, const CalendarDate& localDate);

}  // namespace qardex::crypto
