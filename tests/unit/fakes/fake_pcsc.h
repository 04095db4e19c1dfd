// A scripted PC/SC service for the reader scan and the card commands: readers
// with or without a card, per-command answers (also changing from one time to
// the next), injected failures, and a record of every call. Idle transactions
// and a stopping service behave as on Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "card/pcsc_api.h"

namespace qardex::testing {

using Bytes = std::vector<std::uint8_t>;

struct FakeReader {
  std::string name;
  bool hasCard = false;
  // Answer per command (exact bytes); a command not listed gets 6D 00.
  std::map<Bytes, Bytes> answers;
};

class FakePcsc : public card::PcscApi {
 public:
  std::vector<FakeReader> readers;
  card::PcscStatus establishResult = card::kPcscSuccess;
  card::PcscStatus sizeResult = card::kPcscSuccess;
  card::PcscStatus listResult = card::kPcscSuccess;
  card::PcscStatus disconnectResult = card::kPcscSuccess;
  card::PcscStatus transmitResult = card::kPcscSuccess;
  card::PcscStatus beginResult = card::kPcscSuccess;
  // Reader-list size to claim instead of the real one (0: the real one).
  std::uint32_t claimedListLength = 0;
  // Raw multi-string to report instead of one built from `readers`.
  std::vector<char> multiStringOverride;
  bool useOverride = false;

  // Calls as they happened, e.g. "connect Reader A", "begin", "end",
  // "disconnect", "release".
  std::vector<std::string> calls;
  int openContexts = 0;
  int openCards = 0;
  int openTransactions = 0;
  // Disconnects of a card whose transaction was never ended.
  int disconnectsInTransaction = 0;
  // Milliseconds; with a clock, a held card left 5 s without a call is reset: its transaction
  // ends and later calls on it but the disconnect fail with kResetCard.
  std::function<std::int64_t()> clock;
  std::int64_t longestIdleInTransactionMs = 0;
  // Right before the first call of each name here (as `calls` names it) the service stops and
  // comes back: contexts open until then fail with `serviceStopResult`.
  std::vector<std::string> serviceStopsBefore;
  card::PcscStatus serviceStopResult = card::kPcscServiceStopped;
  // Commands sent while the card was not held in a transaction.
  int transmitsOutsideTransaction = 0;

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

  // The commands sent to each reader, in order.
  std::vector<std::pair<std::string, Bytes>> sent;
  // Answers a reader gives in turn to the same command (the last one repeats); they take
  // precedence over the reader's `answers`.
  std::map<std::pair<std::string, Bytes>, std::vector<Bytes>> sequences;
  // How often each reader was sent each command.
  std::map<std::pair<std::string, Bytes>, std::size_t> timesSent;

 private:
  std::vector<char> MultiString() const;
  // Records `call`; true when the service lost `context`.
  bool CallOnContext(const std::string& call, card::PcscContext context);
  bool CardWasReset(card::PcscCard card);  // applies the idle rule at a call
  std::mutex mutex_;
  std::map<card::PcscCard, std::size_t> connected_;  // card -> reader index
  std::map<card::PcscCard, bool> held_;              // card -> in a transaction
  card::PcscCard nextCard_ = 100;
  card::PcscContext nextContext_ = 7;
  card::PcscContext lostBelow_ = 0;                 // contexts handed out before the last stop
  std::map<card::PcscCard, std::int64_t> lastUse_;  // held cards, with a clock; -1 once reset
};

// PC/SC codes the fake reports.
inline constexpr card::PcscStatus kNoService = card::kPcscNoService;
inline constexpr card::PcscStatus kNoReadersAvailable = static_cast<card::PcscStatus>(0x8010002E);
inline constexpr card::PcscStatus kNoSmartcard = static_cast<card::PcscStatus>(0x8010000C);
inline constexpr card::PcscStatus kInvalidHandle = static_cast<card::PcscStatus>(0x80100003);
inline constexpr card::PcscStatus kResetCard = static_cast<card::PcscStatus>(0x80100068);

Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Ok(const Bytes& data = {});

}  // namespace qardex::testing
