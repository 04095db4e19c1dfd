// One read of the card holder's record: open the card, read the basic data
// (and the card data where asked), close the card on every path.
#pragma once

#include <array>
#include <cstdint>

#include "card/pcsc_api.h"
#include "engine/basic_text.h"

namespace qardex::engine {

struct HolderRecord {
  BasicFields fields;
  // The card number's 12 bytes exactly as the card sent them (NULs included).
  std::array<std::uint8_t, kCardNumberField.length> rawCardNumber{};
  std::uint8_t cardDataFlag = 0;
};

enum class CardDataRead { Required, Skipped };

// Returns 0, or the first failure: 8013 (no card could be opened), 8011
// (basic data refused), 8010 (card data refused).
std::int32_t ReadHolderRecord(card::PcscApi& pcsc, HolderRecord& record,
                              CardDataRead cardData = CardDataRead::Required);

}  // namespace qardex::engine
