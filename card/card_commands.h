// The seven card operations. Each sends one command over an open connection,
// checks for 90 00, applies its response treatment and logs its success line.
// All return 0 on success and -1 on any failure (nothing logged then); a
// 90 00 answer with fewer data bytes than the command returns is a failure.
#pragma once

#include <array>
#include <cstdint>

#include "card/apdu.h"
#include "card/pcsc_api.h"

namespace qardex::card {

// A 256-byte response buffer with its length. Every operation zero-fills it
// first, so a short answer never carries bytes of an earlier one.
struct ResponseBuffer {
  std::array<std::uint8_t, kApduBufferSize> bytes{};
  std::uint32_t length = kApduBufferSize;

  void Reset() {
    bytes.fill(0);
    length = kApduBufferSize;
  }
  // The data as a NUL-terminated text (every treatment leaves a NUL inside).
  const char* Text() const { return reinterpret_cast<const char*>(bytes.data()); }
};

// The connection the commands travel over.
struct CardChannel {
  PcscApi& pcsc;
  PcscCard card;
};

int SelectHC(const CardChannel& channel, ResponseBuffer& response);
int SelectHC31(const CardChannel& channel, ResponseBuffer& response);
// On success: the 12-byte identifier followed by a NUL.
int ReadHCId(const CardChannel& channel, ResponseBuffer& response);
// On success: the data part as one NUL-terminated text (first status byte cleared).
int ReadBasicData(const CardChannel& channel, ResponseBuffer& response);
int ReadHCCardData(const CardChannel& channel, ResponseBuffer& response);
// On success the response is as the card sent it.
int GetChallenge(const CardChannel& channel, ResponseBuffer& response);
int MuAuthHC(const CardChannel& channel, ResponseBuffer& response,
             const std::array<std::uint8_t, kMuAuthDataSize>& data);

}  // namespace qardex::card
