#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "engine/basic_text.h"

namespace qardex::engine {
namespace {

// A 256-byte answer buffer holding a record laid out field by field.
struct Record {
  std::array<std::uint8_t, 256> bytes{};
  void Put(BasicField field, const std::string& text) {
    ASSERT_LE(text.size(), field.length);
    std::memcpy(bytes.data() + field.offset, text.data(), text.size());
  }
};

Record FullRecord() {
  Record record;
  record.Put(kCardNumberField, "000012345678");
  record.Put(kHolderNameField, "CHEN TA MING        ");
  record.Put(kIdNumberField, "A123456789");
  record.Put(kBirthDateField, "0650101");
  record.Put(kSexField, "M");
  record.Put(kIssueDateField, "1080101");
  return record;
}

TEST(BasicText, FieldsInTheLineOrderWithIdBeforeName) {
  const Record record = FullRecord();
  const BasicFields fields = ExtractBasicFields(record.bytes.data());
  EXPECT_EQ(fields.issueDate, "1080101");
  EXPECT_EQ(FormatBasicText(fields, '1'),
            "000012345678,A123456789,CHEN TA MING        ,0650101,M,1");
}

TEST(BasicText, LongestLineIs56Characters) {
  Record record;
  for (BasicField field : {kCardNumberField, kHolderNameField, kIdNumberField, kBirthDateField,
                           kSexField, kIssueDateField}) {
    record.Put(field, std::string(field.length, 'x'));
  }
  EXPECT_EQ(FormatBasicText(ExtractBasicFields(record.bytes.data()), 'Y').size(), 56u);
}

TEST(BasicText, NulInsideAFieldEndsItAndKeepsTheComma) {
  Record record = FullRecord();
  record.bytes[kIdNumberField.offset + 3] = 0;  // "A12" then NUL
  record.bytes[kSexField.offset] = 0;
  const BasicFields fields = ExtractBasicFields(record.bytes.data());
  EXPECT_EQ(fields.idNumber, "A12");
  // Fields after the NUL are untouched; a NUL flag leaves the sixth field empty.
  EXPECT_EQ(FormatBasicText(fields, 0), "000012345678,A12,CHEN TA MING        ,0650101,,");
}

TEST(BasicText, FieldsFillingTheirWidthDoNotRunIntoTheNext) {
  Record record = FullRecord();
  record.Put(kCardNumberField, "ABCDEFGHIJKL");
  const BasicFields fields = ExtractBasicFields(record.bytes.data());
  EXPECT_EQ(fields.cardNumber, "ABCDEFGHIJKL");
  EXPECT_EQ(fields.holderName.size(), 20u);
}

TEST(BasicText, ShortAnswerLeavesLaterFieldsEmpty) {
  Record record;  // zero-filled behind a 15-byte answer
  std::memcpy(record.bytes.data(), "000012345678ABC", 15);
  const BasicFields fields = ExtractBasicFields(record.bytes.data());
  EXPECT_EQ(FormatBasicText(fields, '1'), "000012345678,,ABC,,,1");
}

TEST(BasicText, TrailingBlanksOnly) {
  EXPECT_EQ(TrimTrailingBlanks("\xA7\x64\xA4\x6A\xA6\xD7" + std::string(14, ' ')),
            "\xA7\x64\xA4\x6A\xA6\xD7");
  EXPECT_EQ(TrimTrailingBlanks(std::string(20, ' ')), "");
  EXPECT_EQ(TrimTrailingBlanks("  lead and trail  "), "  lead and trail");
  EXPECT_EQ(TrimTrailingBlanks("tab\t "), "tab\t");
  EXPECT_EQ(TrimTrailingBlanks(""), "");
}

}  // namespace
}  // namespace qardex::engine
