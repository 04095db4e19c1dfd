// GetBasic, GetName, SecureGetBasicWithParam and EnCrypt: the holder's record in plain or
// enciphered text.
#include <string>

#include "common/error_codes.h"
#include "common/text_conversion.h"
#include "crypto/card_ciphers.h"
#include "crypto/key_material.h"
#include "engine/holder_record.h"
#include "engine/random_generator.h"
#include "engine/session.h"

namespace qardex::engine {

namespace {

constexpr std::size_t kShortestInput = 6;
constexpr std::size_t kLongestInput = 12;
static_assert(crypto::kCardNumberLength == kCardNumberField.length);

int DrawFromGenerator() { return NextRandom(); }

}  // namespace

std::string Session::GetBasic() {
  lastError_ = 0;
  HolderRecord record;
  const std::int32_t status = ReadHolderRecord(platform_.Pcsc(), record, CardDataRead::Required);
  if (status != 0) return Fail(status);
  return FormatBasicText(record.fields, record.cardDataFlag);
}

// The page receives the UTF-8 bytes of the name read through the ANSI code page, a form
// integrators rely on.
std::string Session::GetName() {
  lastError_ = 0;
  HolderRecord record;
  const std::int32_t status = ReadHolderRecord(platform_.Pcsc(), record, CardDataRead::Required);
  if (status != 0) return Fail(status);
  return common::WideToUtf8(common::AnsiToWide(TrimTrailingBlanks(record.fields.holderName)));
}

std::string Session::SecureGetBasicWithParam(const PageText&) {
  const crypto::TdeaKey dateKey = crypto::BuildDateKey(platform_.UtcDate());
  lastError_ = 0;
  HolderRecord record;
  const std::int32_t status = ReadHolderRecord(platform_.Pcsc(), record, CardDataRead::Required);
  if (status != 0) return Fail(status);
  const std::string basicText = FormatBasicText(record.fields, record.cardDataFlag);
  return crypto::EncipherBasicText(basicText, dateKey, DrawFromGenerator);
}

// lastError is set on failure only: a success leaves an earlier code in place.
std::string Session::EnCrypt(const PageText& input) {
  SeedRandomWithTime();
  const crypto::CalendarDate today = platform_.LocalDate();
  if (input.wideUnits < kShortestInput || input.wideUnits > kLongestInput) {
    return Fail(common::kWrongInputLength);
  }
  HolderRecord record;
  const std::int32_t status = ReadHolderRecord(platform_.Pcsc(), record, CardDataRead::Skipped);
  if (status != 0) return Fail(status);
  const crypto::TdeaKey cardKey = crypto::BuildCardKey(record.rawCardNumber, today);
  return crypto::EncipherPageString(input.ansi, cardKey, DrawFromGenerator);
}

}  // namespace qardex::engine
