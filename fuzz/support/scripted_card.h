// A PC/SC service with one reader whose card answers come from the fuzzer's
// input. Each answer is kept with the command it answered, so a harness can
// check what a successful call was built from.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "card/pcsc_api.h"

namespace qardex::fuzzing {

class ScriptedCard : public card::PcscApi {
 public:
  struct Answer {
    card::PcscStatus status = card::kPcscSuccess;
    std::string bytes;
  };
  struct Exchange {
    std::uint8_t instruction = 0;  // the command's second byte
    std::uint8_t parameter = 0;    // its third byte
    std::string answer;            // what the card sent, status word included
  };

  // The reader multi-string, the size PC/SC reports for it, then one answer
  // per command until `maxAnswers` or the input runs out.
  void ReadReaders(FuzzedDataProvider& input);
  void ReadAnswers(FuzzedDataProvider& input, std::size_t maxAnswers);
  // One reader with a card, sized honestly.
  void UseOneReader();
  void AddAnswer(Answer answer) { answers_.push_back(std::move(answer)); }

  const std::vector<Exchange>& exchanges() const { return exchanges_; }
  // The data bytes (without status word) of the last answer to `instruction`
  // and `parameter` (-1: any), or -1 when the command was never answered.
  int LastDataLength(std::uint8_t instruction, int parameter = -1) const;

  card::PcscStatus EstablishContext(card::PcscContext* context) override;
  card::PcscStatus ListReaders(card::PcscContext context, char* buffer,
                               std::uint32_t* length) override;
  card::PcscStatus Connect(card::PcscContext context, const char* reader,
                           card::PcscCard* card) override;
  card::PcscStatus Transmit(card::PcscCard card, const std::uint8_t* command,
                            std::uint32_t commandLength, std::uint8_t* response,
                            std::uint32_t* responseLength) override;
  card::PcscStatus BeginTransaction(card::PcscCard card) override;
  card::PcscStatus EndTransaction(card::PcscCard card) override;
  card::PcscStatus Status(card::PcscCard card) override;
  card::PcscStatus Disconnect(card::PcscCard card) override;
  card::PcscStatus ReleaseContext(card::PcscContext context) override;

 private:
  std::string readers_;
  std::uint32_t reportedSize_ = 0;
  std::vector<Answer> answers_;
  std::size_t nextAnswer_ = 0;
  std::vector<Exchange> exchanges_;
};

}  // namespace qardex::fuzzing
