#include "testbed/authserver/messages.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace authserver {
namespace {

void append(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }
void append(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

bool has_at(const Bytes& data, std::size_t offset, std::string_view text) {
    return data.size() >= offset + text.size() &&
           std::equal(text.begin(), text.end(), data.begin() + offset);
}

Bytes slice(const Bytes& data, std::size_t offset, std::size_t length) {
    return Bytes(data.begin() + offset, data.begin() + offset + length);
}

// Deciphers and removes the padding; the plaintext must then have `length` bytes.
Parsed<Bytes> open_request(const Bytes& wire, const TdesKey& key, std::size_t length,
                           std::string_view name) {
    auto padded = open_sealed(key, wire);
    if (!padded.value) return {std::nullopt, std::string(name) + ": " + padded.error};
    auto plain = unpad_block8(*padded.value);
    if (!plain) return {std::nullopt, std::string(name) + ": bad padding"};
    if (plain->size() != length) {
        return {std::nullopt, std::string(name) + ": " + std::to_string(plain->size()) +
                                  " bytes after unpadding, expected " + std::to_string(length)};
    }
    return {std::move(plain), {}};
}

}  // namespace

Bytes seal(const TdesKey& key, const Bytes& padded) {
    Bytes wire = tdes_encrypt(key, padded).value_or(Bytes{});
    append(wire, kTrailer);
    return wire;
}

Parsed<Bytes> open_sealed(const TdesKey& key, const Bytes& wire) {
    if (wire.size() < kTrailerLength || !has_at(wire, wire.size() - kTrailerLength, kTrailer)) {
        return {std::nullopt, "no trailer"};
    }
    const Bytes ciphertext(wire.begin(), wire.end() - kTrailerLength);
    if (ciphertext.empty() || ciphertext.size() % kBlock != 0) {
        return {std::nullopt, std::to_string(ciphertext.size()) + " bytes are not whole blocks"};
    }
    auto plain = tdes_decrypt(key, ciphertext);
    if (!plain) return {std::nullopt, "cannot decipher"};
    return {std::move(plain), {}};
}

Parsed<std::string> parse_hello(const Bytes& wire, const TdesKey& hello_key) {
    auto plain = open_request(wire, hello_key, 6 + kPemLength, "hello");
    if (!plain.value) return {std::nullopt, plain.error};
    if (!has_at(*plain.value, 0, "Hello ")) return {std::nullopt, "hello: no \"Hello \""};
    return {std::string(plain.value->begin() + 6, plain.value->end()), {}};
}

Bytes build_hello_reply(const std::string& server_pem, const Bytes& secret_block,
                        const TdesKey& hello_key, HelloReplyFault fault) {
    Bytes plain;
    append(plain, fault == HelloReplyFault::kNotHello ? "Howdy " : "Hello ");
    std::string pem = server_pem;
    pem.resize(kPemLength, '\n');
    if (fault == HelloReplyFault::kBadKeyText) std::replace(pem.begin(), pem.end(), 'A', '*');
    append(plain, pem);
    append(plain, " 128 ");
    Bytes block = secret_block;
    block.resize(kRsaBlockLength, 0);
    append(plain, block);
    Bytes padded = pad_block8(plain);
    if (fault == HelloReplyFault::kBadPadding) padded.back() = 9;
    return seal(hello_key, padded);
}

std::optional<std::size_t> key_message_length(const Bytes& buffered) {
    // " 128 ": a blank, up to four digits, a blank.
    if (buffered.empty()) return std::nullopt;
    if (buffered[0] != ' ') return 0;  // not a key message at all
    std::size_t digits = 0;
    std::size_t value = 0;
    for (std::size_t i = 1; i < buffered.size(); ++i) {
        const std::uint8_t c = buffered[i];
        if (c == ' ' && digits > 0) return i + 1 + value + kTrailerLength;
        if (c < '0' || c > '9' || ++digits > 4) return 0;
        value = value * 10 + (c - '0');
    }
    return std::nullopt;  // header not complete yet
}

Parsed<Bytes> parse_key_message(const Bytes& wire) {
    const auto length = key_message_length(wire);
    if (!length || *length == 0 || *length != wire.size()) {
        return {std::nullopt, "key: no \" N \" header matching the message's length"};
    }
    if (!has_at(wire, wire.size() - kTrailerLength, kTrailer)) {
        return {std::nullopt, "key: no trailer"};
    }
    const std::size_t header = std::find(wire.begin() + 1, wire.end(), ' ') - wire.begin() + 1;
    return {Bytes(wire.begin() + header, wire.end() - kTrailerLength), {}};
}

Parsed<CardIdentity> parse_request01(const Bytes& wire, const TdesKey& key) {
    auto plain = open_request(wire, key, 38, "01");
    if (!plain.value) return {std::nullopt, plain.error};
    const Bytes& p = *plain.value;
    if (!has_at(p, 0, "01<id=12>") || !has_at(p, 21, "<rn=8>") || !has_at(p, 35, kTrailer)) {
        return {std::nullopt, "01: fields not where expected"};
    }
    return {CardIdentity{slice(p, 9, kCardIdLength), slice(p, 27, kChallengeLength)}, {}};
}

Bytes build_reply02(const Bytes& sam_data, const TdesKey& key, Reply02Fault fault) {
    Bytes plain;
    append(plain, fault == Reply02Fault::kNot02 ? "0X<sa=32>" : "02<sa=32>");
    Bytes data = sam_data;
    data.resize(kSamDataLength, 0);
    append(plain, data);
    append(plain, kTrailer);
    if (fault == Reply02Fault::kLength45) plain.push_back('#');
    return seal(key, pad_block8(plain));
}

Parsed<CardAnswer> parse_request03(const Bytes& wire, const TdesKey& key) {
    auto plain = open_request(wire, key, 55, "03");
    if (!plain.value) return {std::nullopt, plain.error};
    const Bytes& p = *plain.value;
    if (!has_at(p, 0, "03<au=16>") || !has_at(p, 25, "<se=20>") || !has_at(p, 52, kTrailer)) {
        return {std::nullopt, "03: fields not where expected"};
    }
    return {CardAnswer{slice(p, 9, kCardAnswerLength), slice(p, 32, kPageRandomLength)}, {}};
}

Bytes build_final_reply(bool accepted, const std::string& result, const TdesKey& key) {
    Bytes plain;
    append(plain, "04<st=2>");
    append(plain, accepted ? "OK" : "NO");
    append(plain, "<rs=256>");
    std::string text = result;
    text.resize(256, ' ');
    append(plain, text);
    append(plain, kTrailer);
    return seal(key, pad_block8(plain));
}

}  // namespace authserver
