// Card answers into the holder record and the basic text: the reader scan,
// the SELECT, the basic-data and card-data reads with any answer. A record
// read as a success must rest on complete answers.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "engine/basic_text.h"
#include "engine/holder_record.h"
#include "fuzz/support/finding.h"
#include "fuzz/support/scripted_card.h"

using namespace qardex;

namespace {
constexpr std::uint8_t kGetData = 0xCA;
constexpr std::uint8_t kBasicDataTag = 0x11;
constexpr std::uint8_t kCardDataTag = 0x24;

bool FieldFits(const std::string& field, engine::BasicField layout) {
  return field.size() <= layout.length && field.find('\0') == std::string::npos;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
  fuzzing::ScriptedCard card;
  if (flags & 1) {
    card.ReadReaders(input);
  } else {
    card.UseOneReader();
  }
  card.ReadAnswers(input, 8);
  const auto cardData =
      (flags & 2) ? engine::CardDataRead::Skipped : engine::CardDataRead::Required;
  engine::HolderRecord record;
  const std::int32_t code = engine::ReadHolderRecord(card, record, cardData);
  QARDEX_FUZZ_CHECK(code == 0 || code == 8010 || code == 8011 || code == 8013, "record code");
  if (code != 0) return 0;

  QARDEX_FUZZ_CHECK(
      card.LastDataLength(kGetData, kBasicDataTag) >= static_cast<int>(engine::kBasicDataLength),
      "short basic data taken as success");
  if (cardData == engine::CardDataRead::Required) {
    QARDEX_FUZZ_CHECK(card.LastDataLength(kGetData, kCardDataTag) >= 1,
                      "empty card data taken as success");
  }
  const engine::BasicFields& f = record.fields;
  QARDEX_FUZZ_CHECK(FieldFits(f.cardNumber, engine::kCardNumberField), "field within its place");
  QARDEX_FUZZ_CHECK(FieldFits(f.holderName, engine::kHolderNameField), "field within its place");
  QARDEX_FUZZ_CHECK(FieldFits(f.idNumber, engine::kIdNumberField), "field within its place");
  QARDEX_FUZZ_CHECK(FieldFits(f.birthDate, engine::kBirthDateField), "field within its place");
  QARDEX_FUZZ_CHECK(FieldFits(f.sex, engine::kSexField), "field within its place");
  QARDEX_FUZZ_CHECK(FieldFits(f.issueDate, engine::kIssueDateField), "field within its place");
  const std::string text = engine::FormatBasicText(f, record.cardDataFlag);
  QARDEX_FUZZ_CHECK(text.find('\0') == std::string::npos, "basic text holds no NUL");
  const std::string trimmed = engine::TrimTrailingBlanks(f.holderName);
  QARDEX_FUZZ_CHECK(f.holderName.compare(0, trimmed.size(), trimmed) == 0 &&
                        (trimmed.empty() || trimmed.back() != ' ') &&
                        f.holderName.find_first_not_of(' ', trimmed.size()) == std::string::npos,
                    "trimming removes trailing blanks only");
  return 0;
}
