// What PC/SC says about the smart-card service, the readers and the cards in them: one listing,
// one connection attempt per reader, and the same HC scan the methods use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "card/pcsc_api.h"

namespace qardex::checkup {

struct CardFacts {
  bool contextEstablished = false;
  card::PcscStatus status = card::kPcscSuccess;  // of the step that failed, else success
  std::size_t readers = 0;
  std::size_t cardsPresent = 0;  // readers whose card accepted a connection
  int hcReader = -1;             // position of the first reader with an HC card
};

CardFacts ExamineCards(card::PcscApi& pcsc);

}  // namespace qardex::checkup
