#include "card/card_commands.h"

#include <algorithm>

#include "diag/error_log.h"

namespace qardex::card {

namespace {

using diag::AppendErrorLog;

constexpr std::size_t kStatusWordLength = 2;

// Sends the command into a freshly cleared buffer; true on 90 00 behind at
// least `dataLength` data bytes.
bool Exchange(const CardChannel& channel, const std::uint8_t* command, std::size_t length,
              std::size_t dataLength, ResponseBuffer& response) {
  response.Reset();
  const PcscStatus status =
      channel.pcsc.Transmit(channel.card, command, static_cast<std::uint32_t>(length),
                            response.bytes.data(), &response.length);
  if (status != kPcscSuccess) return false;
  // A binding that reports more than the buffer holds is not trusted.
  if (response.length > response.bytes.size()) return false;
  if (response.length < dataLength + kStatusWordLength) return false;
  return IsSuccessResponse(response.bytes.data(), response.length);
}

template <std::size_t N>
bool Exchange(const CardChannel& channel, const std::array<std::uint8_t, N>& command,
              std::size_t dataLength, ResponseBuffer& response) {
  return Exchange(channel, command.data(), command.size(), dataLength, response);
}

// Ends the data part at the first status byte, making it one text.
void TerminateDataPart(ResponseBuffer& response) { response.bytes[response.length - 2] = 0; }

int Select(const CardChannel& channel, const std::array<std::uint8_t, 21>& command,
           ResponseBuffer& response) {
  if (!Exchange(channel, command, 0, response)) return -1;
  AppendErrorLog("Select HC OK!\r\n");
  return 0;
}

}  // namespace

int SelectHC(const CardChannel& channel, ResponseBuffer& response) {
  return Select(channel, kSelectHC, response);
}

int SelectHC31(const CardChannel& channel, ResponseBuffer& response) {
  return Select(channel, kSelectHC31, response);
}

int ReadHCId(const CardChannel& channel, ResponseBuffer& response) {
  if (!Exchange(channel, kReadHCId, kCardIdLength, response)) return -1;
  response.bytes[kCardIdLength] = 0;
  AppendErrorLog("HC ID [%s]\r\n", response.Text());
  return 0;
}

int ReadBasicData(const CardChannel& channel, ResponseBuffer& response) {
  if (!Exchange(channel, kReadBasicData, kBasicDataLength, response)) return -1;
  TerminateDataPart(response);
  AppendErrorLog("basic [%s]\r\n", response.Text());
  return 0;
}

int ReadHCCardData(const CardChannel& channel, ResponseBuffer& response) {
  if (!Exchange(channel, kReadHCCardData, kCardDataFlagLength, response)) return -1;
  TerminateDataPart(response);
  AppendErrorLog("hc card data [%s]\r\n", response.Text());
  return 0;
}

int GetChallenge(const CardChannel& channel, ResponseBuffer& response) {
  return Exchange(channel, kGetChallenge, kChallengeLength, response) ? 0 : -1;
}

int MuAuthHC(const CardChannel& channel, ResponseBuffer& response,
             const std::array<std::uint8_t, kMuAuthDataSize>& data) {
  std::array<std::uint8_t, kApduBufferSize> command{};
  auto end = std::copy(kMuAuthHCHeader.begin(), kMuAuthHCHeader.end(), command.begin());
  end = std::copy(data.begin(), data.end(), end);
  *end = kMuAuthHCLe;
  return Exchange(channel, command.data(), kMuAuthHCLength, kMuAuthAnswerLength, response) ? 0 : -1;
}

}  // namespace qardex::card
