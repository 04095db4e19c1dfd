// The card holder's basic data: fields taken at fixed offsets from the
// basic-data answer, the six-field BasicText line and the name trimming.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "card/apdu.h"

namespace qardex::engine {

// Layout of the 57-byte basic-data record.
struct BasicField {
  std::size_t offset;
  std::size_t length;
};
inline constexpr BasicField kCardNumberField{0, 12};
inline constexpr BasicField kHolderNameField{12, 20};
inline constexpr BasicField kIdNumberField{32, 10};
inline constexpr BasicField kBirthDateField{42, 7};
inline constexpr BasicField kSexField{49, 1};
inline constexpr BasicField kIssueDateField{50, 7};
inline constexpr std::size_t kBasicDataLength = card::kBasicDataLength;

// Each field as a string ending at the field's end or its first NUL.
struct BasicFields {
  std::string cardNumber;
  std::string holderName;
  std::string idNumber;
  std::string birthDate;
  std::string sex;
  std::string issueDate;
};

// `record` must hold at least 57 bytes (the card's 256-byte answer buffer,
// zero-filled behind a short answer).
BasicFields ExtractBasicFields(const std::uint8_t* record);

// "card,id,name,birth,sex,flag": the identity number comes before the name,
// the issue date is left out. A NUL flag leaves the last field empty.
std::string FormatBasicText(const BasicFields& fields, std::uint8_t cardDataFlag);

// Removes trailing blanks (0x20) only; leading blanks stay.
std::string TrimTrailingBlanks(std::string text);

}  // namespace qardex::engine
