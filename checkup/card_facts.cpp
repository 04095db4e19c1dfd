#include "checkup/card_facts.h"

#include "card/reader_session.h"

namespace qardex::checkup {

namespace {

// SCARD_E_PROTO_MISMATCH: a card is there, but it speaks no T=1 (so it is no HC card).
constexpr card::PcscStatus kProtocolMismatch = static_cast<card::PcscStatus>(0x8010000F);

}  // namespace

CardFacts ExamineCards(card::PcscApi& pcsc) {
  CardFacts facts;
  {
    card::CardSession session(pcsc);
    card::ReaderListing listing;
    facts.status = card::ListReaders(session, listing);
    facts.contextEstablished = session.hasContext();
    if (facts.status != card::kPcscSuccess) return facts;
    for (int i = 0; i < listing.names.count(); ++i) {
      if (!listing.names.usable(i)) continue;
      ++facts.readers;
      const card::PcscStatus connected = session.Connect(listing.names.name(i));
      if (connected == kProtocolMismatch) ++facts.cardsPresent;
      if (connected != card::kPcscSuccess) continue;
      ++facts.cardsPresent;
      session.Disconnect();
    }
  }
  if (facts.cardsPresent > 0) {
    card::CardSession session(pcsc);
    int index = -1;
    if (card::FindHCReader(session, index) == card::kScanOk) facts.hcReader = index;
  }
  return facts;
}

}  // namespace qardex::checkup
