#include "engine/basic_text.h"

#include <cstring>

namespace qardex::engine {

namespace {
std::string Field(const std::uint8_t* record, BasicField field) {
  const char* start = reinterpret_cast<const char*>(record + field.offset);
  const void* nul = std::memchr(start, '\0', field.length);
  const std::size_t length =
      nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : field.length;
  return std::string(start, length);
}
}  // namespace

BasicFields ExtractBasicFields(const std::uint8_t* record) {
  return BasicFields{Field(record, kCardNumberField), Field(record, kHolderNameField),
                     Field(record, kIdNumberField),   Field(record, kBirthDateField),
                     Field(record, kSexField),        Field(record, kIssueDateField)};
}

std::string FormatBasicText(const BasicFields& fields, std::uint8_t cardDataFlag) {
  std::string text = fields.cardNumber + ',' + fields.idNumber + ',' + fields.holderName + ',' +
                     fields.birthDate + ',' + fields.sex + ',';
  if (cardDataFlag != 0) text += static_cast<char>(cardDataFlag);
  return text;
}

std::string TrimTrailingBlanks(std::string text) {
  const std::size_t end = text.find_last_not_of(' ');
  text.resize(end == std::string::npos ? 0 : end + 1);
  return text;
}

}  // namespace qardex::engine
