// What one virtual HC card holds and how it misbehaves, independent of where it came from.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "testbed/vcard/bytes.h"
#include "testbed/vcard/hc_commands.h"

namespace vcard {

// Fixed-width fields of the 57-byte basic-data record, in record order.
struct BasicField {
    std::string_view key;  // profile key, e.g. "holder_name"
    std::size_t width;
};
inline constexpr std::array<BasicField, 6> kBasicFields = {{
    {"card_number", 12},
    {"holder_name", 20},
    {"id_number", 10},
    {"birth_date", 7},
    {"sex", 1},
    {"issue_date", 7},
}};
inline constexpr std::size_t kBasicDataLength = 57;
inline constexpr std::size_t kCardIdLength = 12;
// Largest data part a short APDU answer can carry (Le 00 = 256).
inline constexpr std::size_t kMaxResponseData = 256;

struct CardProfile {
    Bytes basic_data;  // data part of the ReadBasicData answer
    Bytes card_data;   // ReadHCCardData answer: flag byte, then the rest
    Bytes card_id;     // ReadHCId answer: 12-byte identifier plus any extra bytes
    Bytes sam_secret;  // shared with the server's SAM for MUTUAL AUTHENTICATE (sam_auth.h)
    // Whole responses (status word included) that replace the card's own answer.
    std::map<Command, Bytes> fixed_answers;
    // Data bytes kept of the card's own 90 00 answer: a short answer that still says success.
    std::map<Command, std::size_t> short_answers;
    // Reads need a successful SELECT since power-on, as on a real card.
    bool require_select = true;
    // Steps the card holds at before answering a command, for the test runner to act in the
    // middle of a call (step_hold.h); at most one step per command.
    std::map<Command, std::string> holds;
};

// The secret the test server assumes unless told otherwise.
inline constexpr std::string_view kDefaultSamSecret = "HC-SAM-SHARED-01";
inline constexpr std::size_t kMaxSamSecretLength = 64;

// A plausible card that answers every command normally.
CardProfile default_profile();

// Pads `value` with blanks to `width`; the caller has checked that it fits.
Bytes pad_with_blanks(const Bytes& value, std::size_t width);

}  // namespace vcard
