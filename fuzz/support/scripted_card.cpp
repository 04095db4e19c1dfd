#include "fuzz/support/scripted_card.h"

#include <algorithm>
#include <cstring>

#include "fuzz/support/finding.h"

namespace qardex::fuzzing {

namespace {
constexpr card::PcscStatus kNoSmartcard = static_cast<card::PcscStatus>(0x8010000C);
constexpr card::PcscStatus kInsufficientBuffer = static_cast<card::PcscStatus>(0x80100008);
constexpr std::uint32_t kSaneListSize = 64 * 1024;
constexpr std::size_t kLongestAnswer = 300;  // more than a response buffer holds
}  // namespace

void ScriptedCard::ReadReaders(FuzzedDataProvider& input) {
  readers_ = input.ConsumeRandomLengthString(4096);
  const auto honest = static_cast<std::uint32_t>(readers_.size());
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:  // a size that is not the text's own
      reportedSize_ = input.ConsumeIntegral<std::uint32_t>();
      if (KnownFault("reader list size")) reportedSize_ = std::min(reportedSize_, kSaneListSize);
      break;
    default:
      reportedSize_ = honest;
      break;
  }
}

void ScriptedCard::UseOneReader() {
  readers_ = std::string("Reader 0\0", 10);
  reportedSize_ = static_cast<std::uint32_t>(readers_.size());
}

void ScriptedCard::ReadAnswers(FuzzedDataProvider& input, std::size_t maxAnswers) {
  while (input.remaining_bytes() > 0 && answers_.size() < maxAnswers) {
    Answer answer;
    if (input.ConsumeIntegralInRange<int>(0, 15) == 0) answer.status = kNoSmartcard;
    answer.bytes = input.ConsumeRandomLengthString(kLongestAnswer);
    answers_.push_back(std::move(answer));
  }
}

int ScriptedCard::LastDataLength(std::uint8_t instruction, int parameter) const {
  for (auto it = exchanges_.rbegin(); it != exchanges_.rend(); ++it) {
    if (it->instruction != instruction || (parameter >= 0 && it->parameter != parameter)) continue;
    return std::max(static_cast<int>(it->answer.size()) - 2, 0);
  }
  return -1;
}

card::PcscStatus ScriptedCard::EstablishContext(card::PcscContext* context) {
  *context = 1;
  return card::kPcscSuccess;
}

card::PcscStatus ScriptedCard::ListReaders(card::PcscContext, char* buffer, std::uint32_t* length) {
  if (buffer == nullptr) {
    *length = reportedSize_;
    return card::kPcscSuccess;
  }
  // Like PC/SC: the whole text or nothing, never past the caller's buffer.
  if (*length < readers_.size()) return kInsufficientBuffer;
  std::memcpy(buffer, readers_.data(), readers_.size());
  *length = static_cast<std::uint32_t>(readers_.size());
  return card::kPcscSuccess;
}

card::PcscStatus ScriptedCard::Connect(card::PcscContext, const char*, card::PcscCard* card) {
  *card = 2;
  return card::kPcscSuccess;
}

card::PcscStatus ScriptedCard::Transmit(card::PcscCard, const std::uint8_t* command,
                                        std::uint32_t commandLength, std::uint8_t* response,
                                        std::uint32_t* responseLength) {
  if (nextAnswer_ >= answers_.size()) return kNoSmartcard;  // the card was taken out
  const Answer& answer = answers_[nextAnswer_++];
  if (answer.status != card::kPcscSuccess) return answer.status;
  if (answer.bytes.size() > *responseLength) return kInsufficientBuffer;
  std::memcpy(response, answer.bytes.data(), answer.bytes.size());
  *responseLength = static_cast<std::uint32_t>(answer.bytes.size());
  exchanges_.push_back({commandLength > 1 ? command[1] : std::uint8_t{0},
                        commandLength > 2 ? command[2] : std::uint8_t{0}, answer.bytes});
  return card::kPcscSuccess;
}

card::PcscStatus ScriptedCard::BeginTransaction(card::PcscCard) { return card::kPcscSuccess; }
card::PcscStatus ScriptedCard::EndTransaction(card::PcscCard) { return card::kPcscSuccess; }
card::PcscStatus ScriptedCard::Status(card::PcscCard) { return card::kPcscSuccess; }
card::PcscStatus ScriptedCard::Disconnect(card::PcscCard) { return card::kPcscSuccess; }
card::PcscStatus ScriptedCard::ReleaseContext(card::PcscContext) { return card::kPcscSuccess; }

}  // namespace qardex::fuzzing
