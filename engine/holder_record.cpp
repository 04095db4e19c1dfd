#include "engine/holder_record.h"

#include <algorithm>

#include "card/card_commands.h"
#include "card/reader_session.h"
#include "common/error_codes.h"

namespace qardex::engine {

std::int32_t ReadHolderRecord(card::PcscApi& pcsc, HolderRecord& record, CardDataRead cardData) {
  card::CardSession session(pcsc);  // closes the card whatever happens below
  if (card::OpenHCCard(session) != card::kScanOk) return common::kCannotOpenCard;
  const card::CardChannel channel{pcsc, session.card()};

  card::ResponseBuffer response;
  if (card::ReadBasicData(channel, response) != 0) return common::kReadBasicDataFailed;
  record.fields = ExtractBasicFields(response.bytes.data());
  std::copy_n(response.bytes.begin() + kCardNumberField.offset, record.rawCardNumber.size(),
              record.rawCardNumber.begin());

  if (cardData == CardDataRead::Required) {
    if (card::ReadHCCardData(channel, response) != 0) return common::kReadCardDataFailed;
    record.cardDataFlag = response.bytes[0];
  }
  return 0;
}

}  // namespace qardex::engine
