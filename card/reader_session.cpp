#include "card/reader_session.h"

#include "card/card_commands.h"
#include "common/error_codes.h"
#include "diag/error_log.h"

namespace qardex::card {

namespace {

bool ServiceWentAway(PcscStatus status) {
  return status == kPcscServiceStopped || status == kPcscNoService;
}

}  // namespace

PcscStatus CardSession::Establish() {
  Close();
  renewed_ = false;
  const PcscStatus status = pcsc_.EstablishContext(&context_);
  hasContext_ = status == kPcscSuccess;
  return status;
}

// The service may be back already: a new context then works where the old one cannot. When it
// is not, the call's own failure is what the caller gets.
template <typename Call>
PcscStatus CardSession::OnContext(Call call) {
  const PcscStatus status = call(context_);
  if (!ServiceWentAway(status) || !hasContext_ || renewed_) return status;
  renewed_ = true;
  Disconnect();  // a card connected under the old context went with it
  hasContext_ = false;
  pcsc_.ReleaseContext(context_);
  PcscContext fresh = 0;
  if (pcsc_.EstablishContext(&fresh) != kPcscSuccess) return status;
  context_ = fresh;
  hasContext_ = true;
  return call(context_);
}

PcscStatus CardSession::ListReaders(char* buffer, std::uint32_t* length) {
  return OnContext([&](PcscContext context) { return pcsc_.ListReaders(context, buffer, length); });
}

PcscStatus CardSession::Connect(const char* reader) {
  Disconnect();
  const PcscStatus status =
      OnContext([&](PcscContext context) { return pcsc_.Connect(context, reader, &card_); });
  hasCard_ = status == kPcscSuccess;
  return status;
}

PcscStatus CardSession::BeginTransaction() {
  if (!hasCard_) return kPcscSuccess;
  const PcscStatus status = pcsc_.BeginTransaction(card_);
  inTransaction_ = status == kPcscSuccess;
  return status;
}

PcscStatus CardSession::Disconnect() {
  if (!hasCard_) return kPcscSuccess;
  if (inTransaction_) {
    inTransaction_ = false;
    pcsc_.EndTransaction(card_);  // a card gone meanwhile cannot be held anyway
  }
  hasCard_ = false;
  return pcsc_.Disconnect(card_);
}

void CardSession::Close() {
  Disconnect();
  if (hasContext_) {
    hasContext_ = false;
    pcsc_.ReleaseContext(context_);
  }
}

namespace {

// Asks PC/SC for the size of the reader multi-string, then reads it.
// Returns which step failed (0: none) and the PC/SC status of that step.
struct ReadResult {
  int failedStep;  // 0 ok, 1 sizing, 2 reading
  PcscStatus status;
};

ReadResult ReadReaderList(CardSession& session, std::vector<char>& multiString) {
  std::uint32_t length = 0;
  PcscStatus status = session.ListReaders(nullptr, &length);
  if (status != kPcscSuccess) return {1, status};
  if (length > kReaderListLimit) return {2, kPcscListTooLarge};
  multiString.assign(length, '\0');
  status = session.ListReaders(multiString.data(), &length);
  if (status != kPcscSuccess) return {2, status};
  // Never trust a length beyond what was allocated.
  if (length < multiString.size()) multiString.resize(length);
  return {0, kPcscSuccess};
}

enum class CardHold { Connection, Transaction };

// The scan shared by FindHCReader and OpenHCCard. On success the card of
// reader `index` is connected in `session` (and held, when asked).
std::int32_t ScanForHCCard(CardSession& session, int& index, CardHold hold) {
  if (session.Establish() != kPcscSuccess) return common::kNoPcscContext;

  ReaderListing listing;
  const ReadResult read = ReadReaderList(session, listing.multiString);
  if (read.failedStep == 1) return common::kCannotSizeReaderList;
  if (read.failedStep == 2) return common::kCannotReadReaderList;
  listing.names.Split(listing.multiString.data(), listing.multiString.size());
  listing.multiString.clear();

  ResponseBuffer response;
  for (int i = 0; i < listing.names.count(); ++i) {
    if (!listing.names.usable(i)) continue;
    const char* reader = listing.names.name(i);
    diag::AppendErrorLog("%s\r\n", reader);
    if (session.Connect(reader) != kPcscSuccess) continue;
    if (hold == CardHold::Transaction && session.BeginTransaction() != kPcscSuccess) {
      session.Disconnect();
      continue;
    }
    if (SelectHC(CardChannel{session.pcsc(), session.card()}, response) == 0) {
      index = i;
      return kScanOk;
    }
    session.Disconnect();
  }
  return common::kNoCardInReaders;
}

}  // namespace

PcscStatus ListReaders(CardSession& session, ReaderListing& listing) {
  listing.names.Split(nullptr, 0);
  listing.multiString.clear();
  const PcscStatus established = session.Establish();
  if (established != kPcscSuccess) return established;
  const ReadResult read = ReadReaderList(session, listing.multiString);
  if (read.failedStep != 0) return read.status;
  listing.names.Split(listing.multiString.data(), listing.multiString.size());
  return kPcscSuccess;
}

std::int32_t FindHCReader(CardSession& session, int& index) {
  const std::int32_t status = ScanForHCCard(session, index, CardHold::Connection);
  if (status != kScanOk) return status;
  return session.Disconnect();
}

std::int32_t OpenHCCard(CardSession& session) {
  int index = -1;
  return ScanForHCCard(session, index, CardHold::Transaction);
}

void CloseHCCard(CardSession& session) { session.Close(); }

}  // namespace qardex::card
