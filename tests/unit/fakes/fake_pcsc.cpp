#include "tests/unit/fakes/fake_pcsc.h"

#include <algorithm>
#include <cstring>

namespace qardex::testing {

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Ok(const Bytes& data) { return Concat({data, Bytes{0x90, 0x00}}); }

std::vector<char> FakePcsc::MultiString() const {
  if (useOverride) return multiStringOverride;
  std::vector<char> multi;
  for (const FakeReader& reader : readers) {
    multi.insert(multi.end(), reader.name.begin(), reader.name.end());
    multi.push_back('\0');
  }
  multi.push_back('\0');
  return multi;
}

bool FakePcsc::CallOnContext(const std::string& call, card::PcscContext context) {
  calls.push_back(call);
  const auto stop = std::find(serviceStopsBefore.begin(), serviceStopsBefore.end(), call);
  if (stop != serviceStopsBefore.end()) {
    serviceStopsBefore.erase(stop);
    lostBelow_ = nextContext_;
  }
  return context < lostBelow_;
}

bool FakePcsc::CardWasReset(card::PcscCard card) {
  const auto held = lastUse_.find(card);
  if (held == lastUse_.end() || held->second < 0) return held != lastUse_.end();
  const std::int64_t now = clock();
  longestIdleInTransactionMs = std::max(longestIdleInTransactionMs, now - held->second);
  held->second = now - held->second < 5'000 ? now : -1;
  if (held->second < 0 && held_.erase(card) != 0) --openTransactions;
  return held->second < 0;
}

card::PcscStatus FakePcsc::EstablishContext(card::PcscContext* context) {
  std::lock_guard lock(mutex_);
  calls.push_back("establish");
  if (establishResult != card::kPcscSuccess) return establishResult;
  *context = nextContext_++;
  ++openContexts;
  return card::kPcscSuccess;
}

card::PcscStatus FakePcsc::ListReaders(card::PcscContext context, char* buffer,
                                       std::uint32_t* length) {
  std::lock_guard lock(mutex_);
  if (CallOnContext(buffer ? "list" : "size", context)) return serviceStopResult;
  const std::vector<char> multi = MultiString();
  if (buffer == nullptr) {
    if (sizeResult != card::kPcscSuccess) return sizeResult;
    if (readers.empty() && !useOverride) return kNoReadersAvailable;
    *length = claimedListLength != 0 ? claimedListLength : static_cast<std::uint32_t>(multi.size());
    return card::kPcscSuccess;
  }
  if (listResult != card::kPcscSuccess) return listResult;
  if (*length < multi.size()) return static_cast<card::PcscStatus>(0x80100008);
  std::copy(multi.begin(), multi.end(), buffer);
  *length = static_cast<std::uint32_t>(multi.size());
  return card::kPcscSuccess;
}

card::PcscStatus FakePcsc::Connect(card::PcscContext context, const char* reader,
                                   card::PcscCard* card) {
  std::lock_guard lock(mutex_);
  if (CallOnContext(std::string("connect ") + reader, context)) return serviceStopResult;
  for (std::size_t i = 0; i < readers.size(); ++i) {
    if (readers[i].name != reader) continue;
    if (!readers[i].hasCard) return kNoSmartcard;
    *card = nextCard_++;
    connected_[*card] = i;
    ++openCards;
    return card::kPcscSuccess;
  }
  return static_cast<card::PcscStatus>(0x80100009);  // unknown reader
}

card::PcscStatus FakePcsc::Transmit(card::PcscCard card, const std::uint8_t* command,
                                    std::uint32_t commandLength, std::uint8_t* response,
                                    std::uint32_t* responseLength) {
  std::lock_guard lock(mutex_);
  const auto found = connected_.find(card);
  if (found == connected_.end()) return kInvalidHandle;
  if (CardWasReset(card)) return kResetCard;
  const Bytes sentBytes(command, command + commandLength);
  FakeReader& reader = readers[found->second];
  sent.emplace_back(reader.name, sentBytes);
  if (held_.count(card) == 0) ++transmitsOutsideTransaction;
  if (transmitResult != card::kPcscSuccess) return transmitResult;
  const std::size_t turn = timesSent[{reader.name, sentBytes}]++;
  const auto sequence = sequences.find({reader.name, sentBytes});
  const auto answer = reader.answers.find(sentBytes);
  Bytes reply{0x6D, 0x00};
  if (sequence != sequences.end() && !sequence->second.empty()) {
    reply = sequence->second[std::min(turn, sequence->second.size() - 1)];
  } else if (answer != reader.answers.end()) {
    reply = answer->second;
  }
  if (reply.size() > *responseLength) return static_cast<card::PcscStatus>(0x80100008);
  std::copy(reply.begin(), reply.end(), response);
  *responseLength = static_cast<std::uint32_t>(reply.size());
  return card::kPcscSuccess;
}

card::PcscStatus FakePcsc::BeginTransaction(card::PcscCard card) {
  std::lock_guard lock(mutex_);
  calls.push_back("begin");
  if (connected_.count(card) == 0) return kInvalidHandle;
  if (CardWasReset(card)) return kResetCard;
  if (beginResult != card::kPcscSuccess) return beginResult;
  held_[card] = true;
  if (clock) lastUse_[card] = clock();
  ++openTransactions;
  return card::kPcscSuccess;
}

card::PcscStatus FakePcsc::EndTransaction(card::PcscCard card) {
  std::lock_guard lock(mutex_);
  calls.push_back("end");
  if (CardWasReset(card)) return kResetCard;
  lastUse_.erase(card);
  if (held_.erase(card) == 0) return kInvalidHandle;
  --openTransactions;
  return card::kPcscSuccess;
}

card::PcscStatus FakePcsc::Status(card::PcscCard card) {
  std::lock_guard lock(mutex_);
  if (connected_.count(card) == 0) return kInvalidHandle;
  return CardWasReset(card) ? kResetCard : card::kPcscSuccess;
}

card::PcscStatus FakePcsc::Disconnect(card::PcscCard card) {
  std::lock_guard lock(mutex_);
  calls.push_back("disconnect");
  lastUse_.erase(card);
  if (held_.erase(card) != 0) {
    ++disconnectsInTransaction;
    --openTransactions;
  }
  if (connected_.erase(card) == 0) return kInvalidHandle;
  --openCards;
  return disconnectResult;
}

card::PcscStatus FakePcsc::ReleaseContext(card::PcscContext) {
  std::lock_guard lock(mutex_);
  calls.push_back("release");
  --openContexts;
  return card::kPcscSuccess;
}

}  // namespace qardex::testing
