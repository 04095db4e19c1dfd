#include <gtest/gtest.h>
#include <iconv.h>

#include <map>
#include <string>

#include "common/error_codes.h"
#include "engine/error_catalogue.h"

namespace qardex::engine {
namespace {

using namespace common;

// The texts as people read them; the catalogue holds their Big5 bytes.
const std::map<std::int32_t, std::string> kReadableTexts = {
    {4061, "無法連接服務網站"},
    {7001, "PC/SC 環境異常"},
    {7002, "無法存取讀卡機"},
    {7003, "無法存取讀卡機"},
    {7004, "未置入KAVO卡"},
    {8001, "讀卡異常"},
    {8002, "讀卡異常"},
    {8003, "認卡傳輸異常"},
    {8004, "認卡傳輸異常"},
    {8005, "認卡傳輸異常"},
    {8006, "卡片回傳無法認卡"},
    {8007, "認卡傳輸異常"},
    {8008, "認卡傳輸異常"},
    {8009, "資料長度不對"},
    {8010, "讀取基本資料失敗"},
    {8011, "讀取基本資料失敗"},
    {8013, "無法存取KAVO卡，請查明讀卡機是否已插好或是否已置入KAVO卡"},
    {8302, "PKCS#11異常"},
    {8303, "PKCS#11異常"},
    {8304, "Session 建立異常"},
    {8305, "Session 建立異常"},
    {8306, "PKCS#11異常"},
};

// Independent oracle: the C library's converter to code page 950.
std::string ToBig5(const std::string& utf8) {
  iconv_t converter = iconv_open("CP950", "UTF-8");
  EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1));
  std::string in = utf8;
  std::string out(utf8.size() * 2 + 8, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  std::size_t inLeft = in.size();
  std::size_t outLeft = out.size();
  EXPECT_NE(iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<std::size_t>(-1));
  iconv_close(converter);
  out.resize(out.size() - outLeft);
  return out;
}

std::string NoSystemText(std::int32_t) { return "<system>"; }

TEST(ErrorCatalogue, EveryCodeHasItsBig5Text) {
  for (const auto& [code, readable] : kReadableTexts) {
    const char* text = CatalogueText(code);
    ASSERT_NE(text, nullptr) << code;
    EXPECT_EQ(std::string(text), ToBig5(readable)) << code;
  }
  EXPECT_EQ(std::string(kParameterErrorText), ToBig5("參數錯誤!!!所傳入的參數不是異常代碼"));
}

TEST(ErrorCatalogue, OtherNumbersFallToTheSystem) {
  for (std::int32_t code : {0, 8000, 8012, 8300, 8301, 8307, 10060, 99999}) {
    EXPECT_EQ(CatalogueText(code), nullptr) << code;
    EXPECT_EQ(MessageForCode(code, NoSystemText), "<system>") << code;
  }
  EXPECT_EQ(MessageForCode(4061, NoSystemText), ToBig5(kReadableTexts.at(4061)));
  // A system text is cut to 256 bytes; an empty one stays empty.
  EXPECT_EQ(MessageForCode(5, [](std::int32_t) { return std::string(300, 'm'); }).size(), 256u);
  EXPECT_EQ(MessageForCode(8300, [](std::int32_t) { return std::string(); }), "");
}

TEST(ErrorCatalogue, CodeArgumentsOfOneToFiveDigits) {
  EXPECT_EQ(ParseCodeArgument(4, "4061"), 4061);
  EXPECT_EQ(ParseCodeArgument(5, "04061"), 4061);  // leading zero
  EXPECT_EQ(ParseCodeArgument(5, "00000"), 0);
  EXPECT_EQ(ParseCodeArgument(0, ""), 0);  // empty reads as 0
  EXPECT_EQ(ParseCodeArgument(5, "10060"), 10060);
  EXPECT_EQ(ParseCodeArgument(5, "99999"), 99999);
  EXPECT_EQ(ParseCodeArgument(1, "7"), 7);
}

TEST(ErrorCatalogue, EverythingElseIsAParameterError) {
  for (const char* bad : {"123456", "12a", "-1", " 1", "1 ", "+1", "1.0", "0x1F", "\xA4\x40"}) {
    EXPECT_FALSE(ParseCodeArgument(std::string(bad).size(), bad)) << bad;
  }
  // Length counts UTF-16 units, not bytes: six units are refused even if
  // the narrow form looks harmless, and a narrow form never overflows.
  EXPECT_FALSE(ParseCodeArgument(6, "12345"));
  EXPECT_FALSE(ParseCodeArgument(5, "12345678901234567890"));
}

}  // namespace
}  // namespace qardex::engine
