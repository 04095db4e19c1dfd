// The control's only road to the readers: listing them, finding the reader
// whose card answers the HC application's SELECT, and the card session that
// card-reading methods hold for the length of one call.
#pragma once

#include <cstdint>
#include <vector>

#include "card/pcsc_api.h"
#include "card/reader_names.h"

namespace qardex::card {

// A scan's success; its failures are the codes 7001-7004 of common/error_codes.h.
inline constexpr std::int32_t kScanOk = 0;

// A PC/SC context and, once a card is found, the connection to it, possibly
// inside a transaction. Disconnecting ends a transaction first; closing
// disconnects (leaving the card as it is) and releases the context; the
// destructor closes whatever is still open. A call on the context that finds
// the smart-card service stopped is made once more on a new context; the
// context is renewed at most once per establishment.
class CardSession {
 public:
  explicit CardSession(PcscApi& pcsc) : pcsc_(pcsc) {}
  ~CardSession() { Close(); }
  CardSession(const CardSession&) = delete;
  CardSession& operator=(const CardSession&) = delete;

  PcscApi& pcsc() const { return pcsc_; }
  bool hasContext() const { return hasContext_; }
  bool hasCard() const { return hasCard_; }
  bool inTransaction() const { return inTransaction_; }
  PcscContext context() const { return context_; }
  PcscCard card() const { return card_; }

  PcscStatus Establish();
  // The reader multi-string, as PcscApi::ListReaders.
  PcscStatus ListReaders(char* buffer, std::uint32_t* length);
  PcscStatus Connect(const char* reader);
  PcscStatus BeginTransaction();
  PcscStatus Disconnect();  // the card only; the context stays
  void Close();

 private:
  template <typename Call>
  PcscStatus OnContext(Call call);

  PcscApi& pcsc_;
  PcscContext context_ = 0;
  bool renewed_ = false;
  PcscCard card_ = 0;
  bool hasContext_ = false;
  bool hasCard_ = false;
  bool inTransaction_ = false;
};

// One reader listing: its own name table, so listings on different threads
// never share slots, and the multi-string PC/SC returned.
struct ReaderListing {
  ReaderNameTable names;
  std::vector<char> multiString;
};

// No sane reader list comes near this size; a larger one claimed by PC/SC
// fails the listing rather than the allocation.
inline constexpr std::uint32_t kReaderListLimit = 64 * 1024;

// Establishes the session's context and reads the reader list. Returns 0 or
// the PC/SC result of the failing step (kPcscListTooLarge for a list above
// kReaderListLimit); the context stays open in `session`.
PcscStatus ListReaders(CardSession& session, ReaderListing& listing);

// Finds the first reader whose card answers SelectHC; on success `index` is
// its position in PC/SC's list and the card is disconnected again. Returns 0,
// 7001-7004, or the PC/SC result of that disconnect.
std::int32_t FindHCReader(CardSession& session, int& index);

// The same scan, keeping the connection to the card open in `session` inside
// a transaction begun before SelectHC, so that the caller's commands follow
// the SELECT with no other client's in between. A reader whose card cannot
// be held counts as one that cannot be connected.
std::int32_t OpenHCCard(CardSession& session);

// Ends the transaction, disconnects the card (leaving it in place) and releases the context,
// whatever state the session is in; results are ignored.
void CloseHCCard(CardSession& session);

}  // namespace qardex::card
