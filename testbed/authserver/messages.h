// The messages of the authentication dialogue as the server sees them: the requests it parses
// and the replies it builds, byte for byte, with the deliberate faults of the test modes.
// Enciphered messages are Triple-DES ECB over the padded plaintext, then "<E>" on the wire.
#pragma once

#include <optional>
#include <string>

#include "testbed/authserver/wire_cipher.h"

namespace authserver {

inline constexpr char kTrailer[] = "<E>";
inline constexpr std::size_t kTrailerLength = 3;
inline constexpr std::size_t kPemLength = 272;
inline constexpr std::size_t kRsaBlockLength = 128;
// Wire lengths of the client's messages (ciphertext or key block plus the trailer).
inline constexpr std::size_t kHelloWireLength = 280 + kTrailerLength;
inline constexpr std::size_t kRequest01WireLength = 40 + kTrailerLength;
inline constexpr std::size_t kRequest03WireLength = 56 + kTrailerLength;
inline constexpr std::size_t kCardIdLength = 12;
inline constexpr std::size_t kChallengeLength = 8;
inline constexpr std::size_t kSamDataLength = 32;
inline constexpr std::size_t kCardAnswerLength = 16;
inline constexpr std::size_t kPageRandomLength = 20;

// A parsed value, or the reason it could not be read.
template <typename T>
struct Parsed {
    std::optional<T> value;
    std::string error;
};

// Enciphers `padded` (whole blocks) and appends the trailer.
Bytes seal(const TdesKey& key, const Bytes& padded);
// Checks the trailer and deciphers the rest; the padded plaintext.
Parsed<Bytes> open_sealed(const TdesKey& key, const Bytes& wire);

// "Hello " + the client's PEM text (272 bytes), padded to 280: the client's PEM text.
Parsed<std::string> parse_hello(const Bytes& wire, const TdesKey& hello_key);

enum class HelloReplyFault { kNone, kBadPadding, kNotHello, kBadKeyText };
// "Hello" " " PEM(272) " 128 " RSA block(128) = 411 bytes, padded, enciphered, "<E>".
Bytes build_hello_reply(const std::string& server_pem, const Bytes& secret_block,
                        const TdesKey& hello_key, HelloReplyFault fault);

// The key message " %d " + block + "<E>": its whole wire length once the header is there.
std::optional<std::size_t> key_message_length(const Bytes& buffered);
Parsed<Bytes> parse_key_message(const Bytes& wire);

struct CardIdentity {
    Bytes card_id;    // 12 bytes
    Bytes challenge;  // 8 bytes
};
// "01<id=12>" id "<rn=8>" challenge "<E>" (38 bytes), padded, enciphered.
Parsed<CardIdentity> parse_request01(const Bytes& wire, const TdesKey& key);

enum class Reply02Fault { kNone, kLength45, kNot02 };
// "02<sa=32>" SAM data "<E>" (44 bytes), padded, enciphered.
Bytes build_reply02(const Bytes& sam_data, const TdesKey& key, Reply02Fault fault);

struct CardAnswer {
    Bytes answer;       // 16 bytes
    Bytes page_random;  // 20 bytes
};
// "03<au=16>" answer "<se=20>" page random "<E>" (55 bytes), padded, enciphered.
Parsed<CardAnswer> parse_request03(const Bytes& wire, const TdesKey& key);

// "04<st=2>" "OK" or "NO" "<rs=256>" result "<E>" (277 bytes), padded, enciphered.
Bytes build_final_reply(bool accepted, const std::string& result, const TdesKey& key);

}  // namespace authserver
