#include "checkup/log_masking.h"

#include <algorithm>
#include <initializer_list>

#include "engine/basic_text.h"

namespace qardex::checkup {

namespace {

// Every entry's message ends in "]" CR LF before the ": <error text>" suffix, and no card byte
// is a line feed, so the field runs from the opening bracket to the "]" before the first line
// feed (a name may hold ']' bytes). An entry cut at its length limit is masked to its line's end.
constexpr std::string_view kFieldEnd = "]\r";

void MaskRange(std::string& text, std::size_t begin, std::size_t length) {
  for (std::size_t i = 1; i + 1 < length; ++i) text[begin + i] = '*';
}

// The record is masked field by field; a record cut short (at a NUL) keeps its fields' bounds.
void MaskBasicRecord(std::string& text, std::size_t begin, std::size_t length) {
  for (const engine::BasicField field :
       {engine::kCardNumberField, engine::kHolderNameField, engine::kIdNumberField,
        engine::kBirthDateField, engine::kSexField, engine::kIssueDateField}) {
    if (field.offset >= length) return;
    MaskRange(text, begin + field.offset, std::min(field.length, length - field.offset));
  }
  const std::size_t known = engine::kIssueDateField.offset + engine::kIssueDateField.length;
  if (length > known) MaskRange(text, begin + known, length - known);
}

void MaskEntries(std::string& text, std::string_view opening, bool basicRecord) {
  std::size_t from = 0;
  while ((from = text.find(opening, from)) != std::string::npos) {
    const std::size_t begin = from + opening.size();
    std::size_t end = std::min(text.find('\n', begin), text.size());
    if (end - begin >= kFieldEnd.size() &&
        text.compare(end - kFieldEnd.size(), kFieldEnd.size(), kFieldEnd) == 0) {
      end -= kFieldEnd.size();
    }
    if (basicRecord) {
      MaskBasicRecord(text, begin, end - begin);
    } else {
      MaskRange(text, begin, end - begin);
    }
    from = end;
  }
}

}  // namespace

std::string MaskDailyLog(std::string_view log) {
  std::string text(log);
  MaskEntries(text, "HC ID [", false);
  MaskEntries(text, "basic [", true);
  MaskEntries(text, "hc card data [", false);
  return text;
}

}  // namespace qardex::checkup
