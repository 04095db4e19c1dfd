#include <gtest/gtest.h>

#include "protocol/json_text.h"

namespace qardex::service {
namespace {

std::u16string OnlyString(std::string_view body) {
  const auto args = ReadArgs(body);
  if (!args || args->size() != 1 || args->front().kind != JsonValue::Kind::String) return u"<none>";
  return args->front().text;
}

TEST(JsonText, ReadsStringsWithEveryEscapeAndUtf8) {
  const struct {
    const char* body;
    std::u16string text;
  } cases[] = {
      {R"({"args":["abc"]})", u"abc"},
      {" {\n \"args\" : [ \"x\" ] }\r\n", u"x"},
      {R"({"args":["\"\\\/\b\f\n\r\t"]})", u"\"\\/\b\f\n\r\t"},
      {R"({"args":["\u00e9\u4E2D"]})", u"\u00e9\u4e2d"},
      {R"({"args":["\ud83d\ude00"]})", u"\U0001F600"},            // an escaped surrogate pair
      {R"({"args":["\ud800x"]})", std::u16string{0xD800, u'x'}},  // a lone surrogate stays
      {"{\"args\":[\"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\"]}", u"\u00e9\u4e2d\U0001F600"},
  };
  for (const auto& c : cases) EXPECT_EQ(OnlyString(c.body), c.text) << c.body;
}

TEST(JsonText, ReadsNumbersAndEmptyArgs) {
  const auto args = ReadArgs(R"({"args":[-12, 0, 1.5e2, "s"]})");
  ASSERT_TRUE(args);
  ASSERT_EQ(args->size(), 4u);
  EXPECT_EQ((*args)[0].number, -12);
  EXPECT_EQ((*args)[2].number, 150);
  EXPECT_EQ((*args)[3].kind, JsonValue::Kind::String);
  ASSERT_TRUE(ReadArgs(R"({"args":[]})"));
  EXPECT_TRUE(ReadArgs(R"({"args":[]})")->empty());
}

TEST(JsonText, RefusesEverythingElse) {
  const char* bodies[] = {
      "",
      "{}",
      "[]",
      R"({"args":[]} x)",
      R"({"args":[],"x":1})",
      R"({"arg":[]})",
      R"({"args":[1,]})",
      R"({"args":[,1]})",
      R"({"args":[[1]]})",
      R"({"args":[true]})",
      R"({"args":[null]})",
      R"({"args":[01]})",
      R"({"args":[1.]})",
      R"({"args":[-]})",
      R"({"args":[1e999]})",
      R"({"args":["\x"]})",
      R"({"args":["\u12G4"]})",
      R"({"args":["\u12"]})",
      R"({"args":["abc]})",
      "{\"args\":[\"a\nb\"]}",
      "{\"args\":[\"\xC0\xAF\"]}",          // overlong
      "{\"args\":[\"\xED\xA0\x80\"]}",      // an encoded surrogate
      "{\"args\":[\"\xF4\x90\x80\x80\"]}",  // beyond U+10FFFF
      "{\"args\":[\"\xE4\xB8\"]}",          // cut short
      "{\"args\":[\"\x80\"]}",
  };
  for (const char* body : bodies) EXPECT_FALSE(ReadArgs(body)) << body;
}

TEST(JsonText, FlatObjectsKeepEachKindOfMember) {
  const auto members = ReadFlatObject(
      R"({"id":7, "ask":"call", "cancel":true, "quiet":false, "args":["a",2], "none":[]})");
  ASSERT_TRUE(members);
  EXPECT_EQ(members->at("id").value.number, 7);
  EXPECT_EQ(members->at("ask").value.text, u"call");
  EXPECT_TRUE(members->at("cancel").boolean);
  EXPECT_EQ(members->at("quiet").kind, JsonMember::Kind::Boolean);
  EXPECT_FALSE(members->at("quiet").boolean);
  EXPECT_EQ(members->at("args").list.size(), 2u);
  EXPECT_EQ(members->at("none").kind, JsonMember::Kind::List);
  EXPECT_TRUE(ReadFlatObject(" { } ")->empty());
  for (const char* text : {R"({"id":1,"id":2})", "{\"\u00e9\":1}", R"({"a":truex})",
                           R"({"a":{"b":1}})", R"({"a":null})", R"({"a":1,})", R"({1:1})"}) {
    EXPECT_FALSE(ReadFlatObject(text)) << text;
  }
}

TEST(JsonText, AnyUtf16RoundTripsAsAscii) {
  std::u16string all;
  for (char32_t unit = 0; unit < 0x10000; unit += 7) all.push_back(static_cast<char16_t>(unit));
  all += std::u16string{0xDC00, 0xD800, u'"', u'\\', 0x7F};
  std::string body = "{\"args\":[";
  AppendJsonString(body, all);
  body += "]}";
  for (const char c : body) ASSERT_TRUE(c >= 0x20 && c < 0x7F) << int(c);
  EXPECT_EQ(OnlyString(body), all);
}

TEST(JsonText, WritesIntegersExactly) {
  EXPECT_EQ(JsonObject("n", JsonValue::Number(-2147483648.0)), R"({"n":-2147483648})");
  EXPECT_EQ(JsonObject("n", JsonValue::Number(8011)), R"({"n":8011})");
  EXPECT_EQ(JsonObject("s", JsonValue::String(u"0001")), R"({"s":"0001"})");
}

}  // namespace
}  // namespace qardex::service
