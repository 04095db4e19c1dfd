#include <gtest/gtest.h>

#include "common/text_conversion.h"

namespace qardex::common {
namespace {

// Natively the ANSI code page is ISO 8859-1: every byte is the character of its number.
TEST(TextConversion, AnsiBytesBecomeTheirCharactersAndBack) {
  const std::string bytes = "A\xB3\xAF\xFF";
  EXPECT_EQ(AnsiToWide(bytes), std::wstring(L"A\u00B3\u00AF\u00FF"));
  EXPECT_EQ(WideToAnsi(AnsiToWide(bytes)), bytes);
  EXPECT_EQ(WideToAnsi(L"a\u4E2D"), "a?");  // no such character in the code page
}

TEST(TextConversion, Utf8OfEveryLength) {
  const std::wstring wide = L"a\u00E9\u4E2D\U0001F600";
  const std::string utf8 = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(Utf8ToWide(utf8), wide);
  // A lone continuation byte, an overlong lead and a cut-off sequence each become one '?'.
  EXPECT_EQ(Utf8ToWide("\x80x\xC0\xAFy\xE4\xB8"), L"?x??y??");
}

}  // namespace
}  // namespace qardex::common
