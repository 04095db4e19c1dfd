#include <gtest/gtest.h>

#include "service/http_exchange.h"
#include "service/origin_lock.h"

namespace qardex::service {
namespace {

// Answers each call with the method's name and first argument (or a number),
// and counts calls in lastError.
struct EchoSession : MethodSession {
  int calls = 0;
  CallOutcome Call(const MethodSignature& method, const std::vector<JsonValue>& args) override {
    ++calls;
    if (method.result == ValueType::Number) return {JsonValue::Number(-1), calls};
    std::u16string text(method.name.begin(), method.name.end());
    if (!args.empty()) text += u":" + args[0].text;
    return {JsonValue::String(text), calls};
  }
};

struct EchoProvider : MethodProvider {
  std::u16string Version() override { return u"0001"; }
  std::unique_ptr<MethodSession> OpenSession() override { return std::make_unique<EchoSession>(); }
};

struct Answer {
  int status = 0;
  std::string head;
  std::string body;
  bool Has(std::string_view header) const { return head.find(header) != std::string::npos; }
};

class RouterTest : public ::testing::Test {
 protected:
  EchoProvider provider;
  unsigned char next = 0;
  SessionTable sessions{[] { return std::chrono::steady_clock::time_point{}; },
                        [this](unsigned char* bytes, std::size_t count) {
                          std::fill(bytes, bytes + count, next++);
                          return true;
                        }};
  Router router{provider, sessions};

  Answer Send(const std::string& method, const std::string& target, const std::string& body = "",
              const std::string& extra = "Origin: https://www.qardex.example\r\n",
              const std::string& host = ServiceHostHeader()) {
    HttpExchange exchange(router);
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: " + host + "\r\n" + extra;
    if (!body.empty()) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    const std::string out = exchange.Receive(request + "\r\n" + body);
    Answer answer;
    if (out.size() < 12) return answer;
    answer.status = std::stoi(out.substr(9, 3));
    const std::size_t split = out.find("\r\n\r\n");
    answer.head = out.substr(0, split);
    answer.body = out.substr(split + 4);
    return answer;
  }
  std::string NewSession() {
    const Answer created = Send("POST", "/v1/session");
    EXPECT_EQ(created.status, 201);
    return created.body.substr(12, 32);  // {"session":"<id>"}
  }
};

TEST_F(RouterTest, SessionLifeAndMethodCalls) {
  EXPECT_EQ(Send("GET", "/v1/version").body, R"({"version":"0001"})");
  const std::string id = NewSession();
  EXPECT_EQ(Send("POST", "/v1/session/" + id + "/H_Sign", R"({"args":["\u00e9"]})").body,
            R"({"result":"H_Sign:\u00e9","lastError":1})");
  EXPECT_EQ(Send("POST", "/v1/session/" + id + "/GetLastError", R"({"args":[]})").body,
            R"({"result":-1,"lastError":2})");
  EXPECT_EQ(Send("DELETE", "/v1/session/" + id).status, 204);
  EXPECT_EQ(Send("POST", "/v1/session/" + id + "/GetVersion", R"({"args":[]})").status, 404);
}

TEST_F(RouterTest, ErrorAnswersCarryCorsForApprovedOrigins) {
  const std::string id = NewSession();
  const std::string call = "/v1/session/" + id + "/";
  const struct {
    const char* method;
    std::string target;
    const char* body;
    int status;
  } cases[] = {
      {"POST", "/v1/session/unknown/GetBasic", R"({"args":[]})", 404},
      {"POST", call + "getbasic", R"({"args":[]})", 404},
      {"POST", call + "GetBasic", "", 400},
      {"POST", call + "GetBasic", R"({"args":["x"]})", 400},
      {"POST", call + "EnCrypt", R"({"args":[]})", 400},
      {"POST", call + "EnCrypt", R"({"args":[5]})", 400},
      {"POST", call + "EnCrypt", R"({"args":["a" )", 400},
      {"GET", call + "GetBasic", "", 405},
      {"DELETE", "/v1/session", "", 405},
      {"POST", "/v1/version", "", 405},
      {"GET", "/v2/version", "", 404},
      {"POST", call + "GetBasic/x", R"({"args":[]})", 404},
  };
  for (const auto& c : cases) {
    const Answer answer = Send(c.method, c.target, c.body);
    EXPECT_EQ(answer.status, c.status) << c.method << " " << c.target << " " << c.body;
    EXPECT_TRUE(answer.Has("Access-Control-Allow-Origin: https://www.qardex.example\r\n"))
        << c.target;
  }
  const Answer tooLarge = Send("POST", call + "EnCrypt", std::string(5000, ' '));
  EXPECT_EQ(tooLarge.status, 413);
  EXPECT_TRUE(tooLarge.Has("Access-Control-Allow-Origin: https://www.qardex.example"));
  EXPECT_TRUE(tooLarge.Has("Connection: close"));
}

TEST_F(RouterTest, OriginAndHostLocks) {
  const struct {
    std::string extra;
    std::string host;
    int status;
    bool cors;
  } cases[] = {
      {"", ServiceHostHeader(), 403, false},
      {"Origin: null\r\n", ServiceHostHeader(), 403, false},
      {"Origin: https://evil.example\r\n", ServiceHostHeader(), 403, false},
      {"Origin: http://localhost:3000\r\n", ServiceHostHeader(), 200, true},
      {"Origin: http://localhost\r\n", "127.0.0.1:14443", 421, true},
      {"Origin: http://localhost\r\n", ServiceHostHeader() + "0", 421, true},
      {"Origin: https://evil.example\r\n", "evil.example", 421, false},
  };
  for (const auto& c : cases) {
    const Answer answer = Send("GET", "/v1/version", "", c.extra, c.host);
    EXPECT_EQ(answer.status, c.status) << c.extra << c.host;
    EXPECT_EQ(answer.Has("Access-Control-Allow-Origin"), c.cors) << c.extra << c.host;
  }
  EXPECT_EQ(sessions.Count(), 0u);
  EXPECT_EQ(Send("POST", "/v1/session", "", "Origin: https://evil.example\r\n").status, 403);
  EXPECT_EQ(sessions.Count(), 0u);
}

TEST_F(RouterTest, Preflight) {
  const Answer answer = Send("OPTIONS", "/v1/session/x/GetBasic", "",
                             "Origin: https://www.qardex.example\r\n"
                             "Access-Control-Request-Method: POST\r\n");
  EXPECT_EQ(answer.status, 204);
  EXPECT_TRUE(answer.Has("Access-Control-Allow-Methods: GET, POST, DELETE, OPTIONS\r\n"));
  EXPECT_TRUE(answer.Has("Access-Control-Allow-Headers: Content-Type\r\n"));
  EXPECT_TRUE(answer.Has("Access-Control-Max-Age: "));
  EXPECT_FALSE(answer.Has("Content-Length"));
  EXPECT_EQ(Send("OPTIONS", "/v1/version", "", "Origin: null\r\n").status, 403);
}

TEST_F(RouterTest, TooManySessions) {
  for (std::size_t i = 0; i < kMaxSessions; ++i) NewSession();
  EXPECT_EQ(Send("POST", "/v1/session").status, 429);
}

TEST_F(RouterTest, KeepAliveAnswersPipelinedRequestsInOrder) {
  HttpExchange exchange(router);
  const std::string get = "GET /v1/version HTTP/1.1\r\nHost: " + ServiceHostHeader() +
                          "\r\nOrigin: http://localhost\r\n\r\n";
  std::string out = exchange.Receive(get + get.substr(0, 10));
  EXPECT_EQ(out.find("HTTP/1.1 200"), 0u);
  EXPECT_TRUE(exchange.InRequest());
  out = exchange.Receive(get.substr(10) + "BAD\r\n\r\n" + get);
  EXPECT_EQ(out.find("HTTP/1.1 200"), 0u);
  EXPECT_NE(out.find("HTTP/1.1 400"), std::string::npos);
  EXPECT_EQ(out.find("HTTP/1.1 200", 1), std::string::npos);  // nothing after the refusal
  EXPECT_TRUE(exchange.Closing());
}

}  // namespace
}  // namespace qardex::service
