// Command bytes of the HC card application and the response check they share.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qardex::card {

inline constexpr std::size_t kApduBufferSize = 256;
inline constexpr std::size_t kMuAuthDataSize = 32;

// SELECT by application identifier of the HC application.
inline constexpr std::array<std::uint8_t, 21> kSelectHC = {
    0x00, 0xA4, 0x04, 0x00, 0x10, 0xD1, 0x58, 0x00, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00};
// The same SELECT for the application variant that ends a signing session.
inline constexpr std::array<std::uint8_t, 21> kSelectHC31 = {
    0x00, 0xA4, 0x04, 0x00, 0x10, 0xD1, 0x58, 0x00, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00};
// GET DATA for the card identifier, the basic data and the card data.
inline constexpr std::array<std::uint8_t, 8> kReadHCId = {0x00, 0xCA, 0x00, 0x00,
                                                          0x02, 0x00, 0x00, 0x00};
inline constexpr std::array<std::uint8_t, 8> kReadBasicData = {0x00, 0xCA, 0x11, 0x00,
                                                               0x02, 0x00, 0x00, 0x00};
inline constexpr std::array<std::uint8_t, 8> kReadHCCardData = {0x00, 0xCA, 0x24, 0x00,
                                                                0x02, 0x00, 0x00, 0x00};
// GET CHALLENGE of 8 bytes.
inline constexpr std::array<std::uint8_t, 5> kGetChallenge = {0x00, 0x84, 0x00, 0x00, 0x08};
// MUTUAL AUTHENTICATE: header, then 32 data bytes, then Le 16.
inline constexpr std::array<std::uint8_t, 5> kMuAuthHCHeader = {0x00, 0x82, 0x11, 0x12, 0x20};
inline constexpr std::uint8_t kMuAuthHCLe = 0x10;
inline constexpr std::size_t kMuAuthHCLength = kMuAuthHCHeader.size() + kMuAuthDataSize + 1;

// Data bytes each read must return in front of its status word; a shorter
// answer is the command's failure, never zero fill taken for data.
inline constexpr std::size_t kCardIdLength = 12;
inline constexpr std::size_t kBasicDataLength = 57;
inline constexpr std::size_t kCardDataFlagLength = 1;
inline constexpr std::size_t kChallengeLength = 8;
inline constexpr std::size_t kMuAuthAnswerLength = 16;

// Success means at least two bytes that end in the status word 90 00.
bool IsSuccessResponse(const std::uint8_t* response, std::size_t length);

}  // namespace qardex::card
