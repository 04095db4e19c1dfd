#include "checkup/log_masking.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

#include "diag/error_log_format.h"
#include "engine/basic_text.h"

namespace qardex::checkup {

namespace {

// " YYYYMMDD hhmmss ", as diag::EntryLine writes it.
constexpr std::string_view kHeadShape = " 00000000 000000 ";

enum class Shape {
  kField,        // the card's bytes between brackets, masked as one field
  kBasicRecord,  // the basic record between brackets, masked field by field
  kWhole,        // every byte to the entry's end
};

// Every entry that carries what the card or the server said: its text holds `marker` at
// `offset`, and what follows the marker is masked.
struct Carrier {
  std::size_t offset;
  std::string_view marker;
  Shape shape;
};
constexpr Carrier kCarriers[] = {
    {0, "HC ID [", Shape::kField},         // the card's identifier (card/card_commands.cpp)
    {0, "basic [", Shape::kBasicRecord},   // the holder's basic record
    {0, "hc card data [", Shape::kField},  // the card data flag
    {8, "OK", Shape::kWhole},  // the final reply with the result (cloud/sam_session.cpp)
};

// The field ends in "]" CR LF before the ": <error text>" suffix, and no card byte is a line
// feed, so it runs to the "]" before the first line feed (a name may hold ']' bytes). An entry
// cut at its length limit is masked to its line's end.
constexpr std::string_view kFieldEnd = "]\r";

bool IsHead(std::string_view text, std::size_t at) {
  if (text.size() - at < kHeadShape.size()) return false;
  for (std::size_t i = 0; i < kHeadShape.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[at + i]);
    if (kHeadShape[i] == ' ' ? c != ' ' : !std::isdigit(c)) return false;
  }
  return true;
}

// Where the entry whose text begins at `begin` ends: at the line feed before the next head (or
// the log's end), never past the longest entry text.
std::size_t EntryEnd(std::string_view text, std::size_t begin) {
  const std::size_t limit = std::min(text.size(), begin + diag::kEntryTextLimit);
  for (std::size_t at = begin; at < limit; ++at) {
    if (text[at] == '\n' && (at + 1 == text.size() || IsHead(text, at + 1))) return at;
  }
  return limit;
}

void MaskRange(std::string& text, std::size_t begin, std::size_t length) {
  for (std::size_t i = 1; i + 1 < length; ++i) text[begin + i] = '*';
}

void MaskAll(std::string& text, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    if (text[i] != '\r' && text[i] != '\n') text[i] = '*';
  }
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

void MaskBracketed(std::string& text, std::size_t begin, Shape shape) {
  std::size_t end = std::min(text.find('\n', begin), text.size());
  if (end - begin >= kFieldEnd.size() &&
      text.compare(end - kFieldEnd.size(), kFieldEnd.size(), kFieldEnd) == 0) {
    end -= kFieldEnd.size();
  }
  if (shape == Shape::kBasicRecord) {
    MaskBasicRecord(text, begin, end - begin);
  } else {
    MaskRange(text, begin, end - begin);
  }
}

void MaskEntry(std::string& text, std::size_t begin) {
  for (const Carrier& carrier : kCarriers) {
    if (begin + carrier.offset > text.size() ||
        text.compare(begin + carrier.offset, carrier.marker.size(), carrier.marker) != 0)
      continue;
    const std::size_t from = begin + carrier.offset + carrier.marker.size();
    if (carrier.shape == Shape::kWhole) {
      MaskAll(text, from, EntryEnd(text, begin));
    } else {
      MaskBracketed(text, from, carrier.shape);
    }
    return;
  }
}

}  // namespace

std::string MaskDailyLog(std::string_view log) {
  std::string text(log);
  // A log cut at its start (the bundle keeps the newest part) begins inside an entry whose kind
  // is unknown: that piece is masked whole.
  if (!text.empty() && !IsHead(text, 0)) MaskAll(text, 0, EntryEnd(text, 0));
  std::size_t at = 0;
  while (at < text.size()) {
    if (IsHead(text, at)) MaskEntry(text, at + kHeadShape.size());
    const std::size_t lineEnd = text.find('\n', at);
    if (lineEnd == std::string::npos) break;
    at = lineEnd + 1;
  }
  return text;
}

}  // namespace qardex::checkup
