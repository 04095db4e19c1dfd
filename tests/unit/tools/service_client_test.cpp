// The load client's call descriptions, requests and latency ranks (tools/service_client).
#include <gtest/gtest.h>

#include <numeric>

#include "tools/service_client/call_plan.h"
#include "tools/service_client/call_stats.h"

namespace qardex::service_client {
namespace {

TEST(ServiceClientCalls, DescriptionsAreReadOrRefused) {
  struct Case {
    const char* text;
    bool valid;
    const char* method;
    const char* argument;  // nullptr: none
  };
  const Case cases[] = {{"version", true, "version", nullptr},
                        {"GetBasic", true, "GetBasic", nullptr},
                        {"H_Sign:L{c}.{i}", true, "H_Sign", "L{c}.{i}"},
                        {"EnCrypt:", true, "EnCrypt", ""},
                        {"version:x", false, "", nullptr},
                        {"", false, "", nullptr},
                        {":x", false, "", nullptr},
                        {"Get Basic", false, "", nullptr},
                        {"H_Sign:a\tb", false, "", nullptr},
                        {"GetBasic/..", false, "", nullptr}};
  for (const Case& c : cases) {
    const auto call = ParseCall(c.text);
    ASSERT_EQ(call.has_value(), c.valid) << c.text;
    if (!call) continue;
    EXPECT_EQ(call->method, c.method);
    EXPECT_EQ(call->argument.has_value(), c.argument != nullptr) << c.text;
    if (c.argument) {
      EXPECT_EQ(*call->argument, c.argument);
    }
  }
}

TEST(ServiceClientCalls, ArgumentsAreNumberedAndSentAsJsonStrings) {
  const PlannedCall call = *ParseCall("H_Sign:\"{c}\\{i}{i}");
  const std::string argument = ArgumentFor(call, 3, 12);
  EXPECT_EQ(argument, "\"3\\1212");
  const std::string request = MethodRequest({"h:1", "https://o"}, "ab", call, argument);
  const std::string body = "{\"args\":[\"\\\"3\\\\1212\"]}";
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /v1/session/ab/H_Sign HTTP/1.1");
  EXPECT_NE(request.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(request.substr(request.size() - body.size()), body);
  EXPECT_EQ(SessionOf("{\"session\":\"0123abcd\"}"), "0123abcd");
  EXPECT_EQ(SessionOf("{\"error\":\"too many sessions\"}"), "");
  EXPECT_EQ(SessionOf("{\"session\":\"0123"), "");
}

TEST(ServiceClientStats, PercentilesAreNearestRanks) {
  std::vector<long long> hundred(100);
  std::iota(hundred.rbegin(), hundred.rend(), 1);  // 100 down to 1: the ranks need sorting
  EXPECT_EQ(LatencyText(hundred), "p50_us=50 p99_us=99 max_us=100");
  EXPECT_EQ(LatencyText({7}), "p50_us=7 p99_us=7 max_us=7");
  EXPECT_EQ(LatencyText({2, 1}), "p50_us=1 p99_us=2 max_us=2");
  EXPECT_EQ(LatencyText({}), "p50_us=0 p99_us=0 max_us=0");
}

}  // namespace
}  // namespace qardex::service_client
