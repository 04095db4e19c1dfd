#include <gtest/gtest.h>

#include <string>

#include "card/reader_names.h"

namespace qardex::card {
namespace {

int Split(ReaderNameTable& table, const std::string& multi) {
  return table.Split(multi.data(), multi.size());
}

std::string MultiString(int count, std::size_t nameLength) {
  std::string multi;
  for (int i = 0; i < count; ++i) {
    std::string name = "R" + std::to_string(i);
    name.resize(std::max(name.size(), nameLength), 'x');
    multi += name;
    multi += '\0';
  }
  return multi + '\0';
}

TEST(ReaderNames, SplitsWellFormedMultiStringsInOrder) {
  ReaderNameTable table;
  EXPECT_EQ(Split(table, std::string("Reader A 00 00\0Reader B 00 01\0\0", 31)), 2);
  EXPECT_STREQ(table.name(0), "Reader A 00 00");
  EXPECT_STREQ(table.name(1), "Reader B 00 01");
  EXPECT_EQ(table.Joined(), "Reader A 00 00,Reader B 00 01");

  // A comma inside a name is kept as it is.
  EXPECT_EQ(Split(table, std::string("Comma, Reader 00 00\0\0", 21)), 1);
  EXPECT_EQ(table.Joined(), "Comma, Reader 00 00");
}

TEST(ReaderNames, ShorterNameLeavesNoTraceOfTheEarlierOne) {
  ReaderNameTable table;
  Split(table, std::string("A much longer reader name\0\0", 27));
  Split(table, std::string("Short\0\0", 7));
  EXPECT_STREQ(table.name(0), "Short");
}

TEST(ReaderNames, DegenerateInputsGiveNoNames) {
  ReaderNameTable table;
  EXPECT_EQ(table.Split(nullptr, 10), 0);
  EXPECT_EQ(Split(table, ""), 0);                    // no NUL at all
  EXPECT_EQ(Split(table, std::string("\0", 1)), 0);  // empty list
  EXPECT_EQ(Split(table, "NoTerminator"), 0);
  EXPECT_EQ(table.Joined(), "");
  EXPECT_STREQ(table.name(-1), "");
  EXPECT_STREQ(table.name(25), "");
}

TEST(ReaderNames, MoreThanTwentyReadersKeepsTheFirstTwenty) {
  ReaderNameTable table;
  EXPECT_EQ(Split(table, MultiString(25, 5)), 20);
  EXPECT_STREQ(table.name(19), "R19xx");
  EXPECT_STREQ(table.name(20), "");
}

TEST(ReaderNames, OverlongNameIsSkippedNeverCut) {
  ReaderNameTable table;
  const std::string fits(99, 'a');
  const std::string tooLong(100, 'b');
  const std::string multi = fits + '\0' + tooLong + '\0' + "Last" + '\0' + '\0';
  EXPECT_EQ(Split(table, multi), 3);
  EXPECT_TRUE(table.usable(0));
  EXPECT_EQ(std::string(table.name(0)), fits);
  EXPECT_FALSE(table.usable(1));
  EXPECT_STREQ(table.name(1), "");
  // The reader after it keeps its position in the list.
  EXPECT_STREQ(table.name(2), "Last");
  EXPECT_EQ(table.Joined(), fits + ",Last");
}

}  // namespace
}  // namespace qardex::card
