#include <gtest/gtest.h>

#include <future>

#include "https/http_exchange.h"
#include "protocol/origin_lock.h"
#include "protocol/protocol_revision.h"
#include "qardex_constants.h"
#include "broker/worker_session.h"
#include "tests/unit/fakes/fake_worker.h"

namespace qardex::service {
namespace {

using namespace std::chrono_literals;

const std::string kPage = "Origin: https://www.qardex.example\r\n";
const CallerCheck kAlice{CallerRefusal::None, {11, 1, "S-1-5-21-1001"}};
const SessionOwner kPageOwner{"https://www.qardex.example", 1, "S-1-5-21-1001"};
const std::string kHost = ServiceHostHeader();

struct Answer {
  int status = 0;
  std::string head;
  std::string body;
  bool Has(std::string_view header) const { return head.find(header) != std::string::npos; }
};

// The whole broker over workers in the test's process: each Windows session's worker answers
// with the method's name and argument and counts its calls in lastError.
class RouterTest : public ::testing::Test {
 protected:
  testing::FakeStarter starter;
  testing::LogLines log;
  WorkerPool pool{starter, log, [] { return std::chrono::steady_clock::time_point{}; },
                  WorkerLimits{2s, 300ms, 10min, 2s, 10ms}};  // a hung worker: 300 ms
  WorkerProvider provider{pool};
  unsigned char next = 0;
  SessionTable sessions{[] { return std::chrono::steady_clock::time_point{}; },
                        [this](unsigned char* bytes, std::size_t count) {
                          std::fill(bytes, bytes + count, next++);
                          return true;
                        }};
  Router router{provider, sessions, log, 100ms, std::chrono::steady_clock::now, [] {
                  return sitelock::LocalhostPorts{{80, 3000}};
                }};

  Answer Send(const std::string& method, const std::string& target, const std::string& body = "",
              const std::string& extra = kPage, const std::string& host = kHost,
              const CallerCheck& caller = kAlice) {
    HttpExchange exchange(router, caller);
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
  std::string NewSession(const CallerCheck& caller = kAlice) {
    const Answer created = Send("POST", "/v1/session", "", kPage, kHost, caller);
    EXPECT_EQ(created.status, 201);
    return created.body.substr(12, 32);  // {"session":"<id>"}
  }
  Answer CallBasic(const std::string& id, const CallerCheck& caller = kAlice,
                   const std::string& origin = kPage) {
    return Send("POST", "/v1/session/" + id + "/GetBasic", R"({"args":[]})", origin, kHost, caller);
  }
};

TEST_F(RouterTest, SessionLifeAndMethodCalls) {
  // The control's version as before, then the product's and the protocol's revisions.
  const std::string revision =
      "\"protocol\":" + std::to_string(kPageProtocolRevision) +
      ",\"oldestLibraryProtocol\":" + std::to_string(kOldestLibraryRevision) + "}";
  EXPECT_EQ(Send("GET", "/v1/version").body,
            R"({"version":"0001","product":")" QARDEX_PRODUCT_VERSION "\"," + revision);
  EXPECT_TRUE(starter.workers.empty());  // the version needs no worker
  const Answer created = Send("POST", "/v1/session", "", kPage, kHost, kAlice);
  EXPECT_EQ(created.body.substr(0, 12) + "ID" + created.body.substr(44),
            R"({"session":"ID",)" + revision);
  const std::string id = created.body.substr(12, 32);
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
      {"Origin: http://localhost:3000\r\n",
       std::string(build::kLocalServiceLoopbackHost) + ":" +
           std::to_string(build::kLocalServicePort),
       200, true},
      {"Origin: http://localhost:3001\r\n", ServiceHostHeader(), 403, false},  // not listed
      {"Origin: http://dev.localhost:3000\r\n", ServiceHostHeader(), 403, false},
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

TEST_F(RouterTest, DiagnosticsForApprovedOriginsOnly) {
  EXPECT_EQ(Send("GET", "/v1/diagnostics", "", "Origin: https://evil.example\r\n").status, 403);
  EXPECT_TRUE(starter.workers.empty());
  EXPECT_EQ(Send("POST", "/v1/diagnostics").status, 405);
  // The fake worker lists one reader and answers -1 to GetHCConnectNo and ServiceStatus.
  const Answer answer = Send("GET", "/v1/diagnostics");
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body.substr(answer.body.find(",\"readers\"")),
            R"(,"readers":1,"hcCard":false,"serverReachable":false})");
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

TEST_F(RouterTest, SessionQuotaIsPerOriginAndWindowsSession) {
  for (std::size_t i = 0; i < kMaxSessionsPerOwner; ++i) NewSession();
  EXPECT_EQ(Send("POST", "/v1/session").status, 429);
  EXPECT_EQ(Send("POST", "/v1/session", "", kPage, kHost, {{}, {12, 1, "S-1-5-21-1002"}}).status,
            429);  // another user of the same Windows session shares the room
  EXPECT_EQ(Send("POST", "/v1/session", "", "Origin: http://localhost\r\n").status, 201);
}

TEST_F(RouterTest, ASessionExistsOnlyForTheOriginAndWindowsSessionThatOpenedIt) {
  const std::string id = NewSession();
  const struct {
    std::string origin;
    CallerCheck caller;
  } strangers[] = {
      {"Origin: http://localhost\r\n", kAlice},
      {kPage, {{}, {11, 2, kAlice.caller.userSid}}},
      {kPage, {{}, {11, 1, "S-1-5-21-1002"}}},
  };
  for (const auto& s : strangers) {
    EXPECT_EQ(CallBasic(id, s.caller, s.origin).status, 404);
    EXPECT_EQ(Send("DELETE", "/v1/session/" + id, "", s.origin, kHost, s.caller).status, 404);
  }
  EXPECT_EQ(CallBasic(id).status, 200);
  EXPECT_EQ(CallBasic(id, kAlice, "Origin: https://www.qardex.example:443\r\n").status, 200);
  EXPECT_TRUE(starter.workers.size() == 1 && starter.callers[0].windowsSession == 1);
}

// A worker that breaks the rules of the pipe is ended (never the service) and its call fails.
TEST_F(RouterTest, CallsWithoutAResultAnswerWhyAndRefusedCallersGet403) {
  using testing::Script;
  const char* const kBusy = R"({"error":"card busy"})";
  const char* const kEnded = R"({"error":"worker ended during the call"})";
  const char* const kUnavailable = R"({"error":"worker unavailable"})";
  const struct {
    Script script;
    int status;
    const char* body;
    bool terminated;
    const char* logged;
  } cases[] = {
      {Script::Busy, 503, kBusy, false, "worker started in Windows session 11, process 101"},
      {Script::Fail, 500, R"({"error":"internal error"})", false, "failed: unknown session"},
      {Script::Die, 502, kEnded, false, "(process 103) exited"},
      {Script::Garbage, 502, kEnded, true, "ended: it sent a malformed message"},
      {Script::Oversized, 502, kEnded, true, "ended: it sent an oversized message"},
      {Script::Unexpected, 502, kEnded, true, "a message only the service sends"},
      {Script::Stray, 502, kEnded, true, "ended: it answered a call it was not given"},
      {Script::Silent, 502, kEnded, true, "ended: no reply within the call limit"},
      {Script::WrongHello, 503, kUnavailable, true, "ended: its Hello named another process"},
      {Script::NoStart, 503, kUnavailable, false, "cannot start a worker in Windows session 20"},
  };
  std::uint32_t windowsSession = 10;
  for (const auto& c : cases) {  // each in a Windows session of its own, so with its own worker
    starter.next = c.script;
    const CallerCheck caller{{}, {1, ++windowsSession, "S-1-5-21-1"}};
    const Answer answer = CallBasic(NewSession(caller), caller);
    EXPECT_EQ(answer.status, c.status) << c.logged;
    EXPECT_EQ(answer.body, c.body) << c.logged;
    EXPECT_EQ(answer.Has("\r\nRetry-After: 5"), c.script == Script::Busy) << c.logged;
    EXPECT_EQ(c.script != Script::NoStart && starter.workers.back()->terminated, c.terminated);
    EXPECT_TRUE(log.Has(c.logged)) << c.logged;
  }
  // The session's previous call runs on past the wait.
  const std::string id = NewSession();
  const std::lock_guard<std::timed_mutex> running(sessions.Find(id, kPageOwner)->turn);
  EXPECT_EQ(std::async(std::launch::async, [&] { return CallBasic(id).status; }).get(), 503);

  const Answer refused = Send("POST", "/v1/session", "", kPage, kHost,
                              {CallerRefusal::SystemSession, {4, 0, "S-1-5-18"}});
  EXPECT_EQ(refused.status, 403);
  EXPECT_EQ(refused.body, R"({"error":"caller not allowed"})");
  EXPECT_TRUE(refused.Has("Access-Control-Allow-Origin: https://www.qardex.example\r\n"));
  EXPECT_TRUE(log.Has(RefusalText(CallerRefusal::SystemSession)));
}

// The protocol answers each ask, with no HTTP, exactly what the HTTP binding sends.
TEST_F(RouterTest, EachAskIsAnsweredAsOverHttp) {
  PageProtocol protocol{provider, sessions, 100ms};
  const std::string id = NewSession(), call = "/v1/session/" + id + "/";
  const std::string unknown(32, 'f');
  const struct {
    PageAsk ask;
    std::string session;
    const char* method;
    const char* body;
    const char* verb;
    std::string target;
  } cases[] = {
      {PageAsk::Version, "", "", "", "GET", "/v1/version"},
      {PageAsk::Diagnostics, "", "", "", "GET", "/v1/diagnostics"},
      {PageAsk::CallMethod, id, "GetVersion", R"({"args":[]})", "POST", call + "GetVersion"},
      {PageAsk::CallMethod, id, "getbasic", R"({"args":[]})", "POST", call + "getbasic"},
      {PageAsk::CallMethod, id, "EnCrypt", R"({"args":[5]})", "POST", call + "EnCrypt"},
      {PageAsk::CallMethod, id, "EnCrypt", R"({"args":["a" )", "POST", call + "EnCrypt"},
      {PageAsk::CallMethod, unknown, "GetBasic", "", "POST",
       "/v1/session/" + unknown + "/GetBasic"},
      {PageAsk::WatchReaders, unknown, "", "", "GET", "/v1/session/" + unknown + "/events"},
      {PageAsk::CloseSession, unknown, "", "", "DELETE", "/v1/session/" + unknown},
  };
  for (const auto& c : cases) {
    const PageAnswer answer = protocol.Answer(
        {"https://www.qardex.example", kAlice.caller, c.ask, c.session, c.method, c.body, {}});
    const Answer http = Send(c.verb, c.target, c.body);
    EXPECT_EQ(answer.status, http.status) << c.target;
    EXPECT_EQ(answer.body, http.body) << c.target;
  }
  PageRequest unlisted;
  unlisted.origin = "https://evil.example";
  unlisted.caller = kAlice.caller;
  EXPECT_EQ(protocol.Answer(unlisted).body,
            Send("GET", "/v1/version", "", "Origin: https://evil.example\r\n").body);

  // A call waiting for its session's turn is given up once its caller has gone.
  PageProtocol patient{provider, sessions, 20s};
  const std::lock_guard<std::timed_mutex> running(sessions.Find(id, kPageOwner)->turn);
  const auto start = std::chrono::steady_clock::now();
  const PageAnswer gone =
      patient.Answer({"https://www.qardex.example", kAlice.caller, PageAsk::CallMethod, id,
                      "GetBasic", R"({"args":[]})", CallContext([] { return true; })});
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(gone.status, 503);
  EXPECT_EQ(gone.retryAfterSeconds, kBusyRetryAfterSeconds);
}

// A route asked with another method is refused with the method it takes.
TEST_F(RouterTest, TheAllowOfA405NamesTheRoutesMethod) {
  for (const HttpRoute& route : kHttpRoutes) {
    std::string target(route.path);
    for (std::size_t at; (at = target.find('*')) != std::string::npos;) target.replace(at, 1, "x");
    const Answer answer = Send(route.method == "POST" ? "GET" : "POST", target);
    EXPECT_EQ(answer.status, 405) << target;
    EXPECT_TRUE(answer.Has("\r\nAllow: " + std::string(route.method) + ", OPTIONS")) << target;
  }
}

// A flood of refused requests leaves a few lines a minute per cause: one per connection at
// most, and one summary counting them all once the minute is over (the only event of them).
TEST(RefusalLog, RefusalsAreWrittenOncePerConnectionAndSummedUpEachMinute) {
  testing::LogLines log;
  std::chrono::steady_clock::time_point now{};
  SessionTable sessions{[] { return std::chrono::steady_clock::time_point{}; },
                        [](unsigned char*, std::size_t) { return true; }};
  testing::FakeStarter starter;
  WorkerPool pool{starter, log, [] { return std::chrono::steady_clock::time_point{}; }};
  WorkerProvider provider{pool};
  Router router{provider, sessions, log, 100ms, [&now] { return now; }};
  const CallerCheck noOwner{CallerRefusal::NoOwner, {7, 1, ""}};
  const CallerCheck service{CallerRefusal::SystemSession, {4, 0, "S-1-5-18"}};
  const std::string get = "GET /v1/version HTTP/1.1\r\nHost: " + kHost + "\r\n" + kPage + "\r\n";
  const auto lines = [&log] {
    std::lock_guard<std::mutex> hold(log.lock);
    return std::count(log.text.begin(), log.text.end(), '\n');
  };
  for (int connection = 0; connection < 5; ++connection) {
    HttpExchange exchange(router, noOwner);
    exchange.Receive(get + get + get + get);
  }
  HttpExchange(router, service).Receive(get);
  EXPECT_EQ(lines(), 4);  // three of one cause, one of the other
  now += 59s;
  router.FlushRefusals();
  EXPECT_EQ(lines(), 4);
  EXPECT_TRUE(log.events.empty());
  now += 1s;
  router.FlushRefusals();
  EXPECT_TRUE(log.Has("20 refused requests (" + std::string(RefusalText(CallerRefusal::NoOwner)) +
                      ") in the last minute, 17 of them not written one by one"));
  EXPECT_EQ(lines(), 6);
  HttpExchange(router, noOwner).Receive(get + get);  // a new minute: written again
  router.FlushRefusals(true);
  EXPECT_EQ(lines(), 8);
  EXPECT_EQ(log.Kinds(), std::vector<LogEvent>(3, LogEvent::kRefusals));
  EXPECT_TRUE(log.Has("2 refused requests (" + std::string(RefusalText(CallerRefusal::NoOwner))));
}

TEST_F(RouterTest, KeepAliveAnswersPipelinedRequestsInOrder) {
  HttpExchange exchange(router, kAlice);
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

namespace qardex::service {
namespace {

TEST_F(RouterTest, EventsStreamTheReadersToAtMostFourWatchersOfASession) {
  const std::string id = NewSession();
  const std::string path = "/v1/session/" + id + "/events";
  EXPECT_EQ(Send("POST", path).status, 405);
  EXPECT_EQ(Send("GET", "/v1/session/" + std::string(32, 'f') + "/events").status, 404);
  std::vector<std::shared_ptr<EventFeed>> feeds;
  for (int i = 0; i < 4; ++i) {
    HttpExchange exchange(router, kAlice);
    const std::string head =
        exchange.Receive("GET " + path + " HTTP/1.1\r\nHost: " + kHost + "\r\n" + kPage + "\r\n");
    EXPECT_NE(head.find("\r\nContent-Type: text/event-stream\r\n"), std::string::npos) << head;
    EXPECT_TRUE(exchange.Closing());
    feeds.push_back(exchange.TakeEvents());
    ASSERT_TRUE(feeds.back());
  }
  EXPECT_EQ(Send("GET", path).status, 429);
  std::string bytes;
  EXPECT_TRUE(feeds[3]->Next(bytes, 2s));
  EXPECT_EQ(bytes,
            "data: {\"type\":\"state\",\"readers\":[{\"index\":0,\"reader\":\"R\",\"card\":false,"
            "\"hc\":false}]}\n\n");
  feeds.clear();
  EXPECT_FALSE(starter.workers.at(0)->watching);  // nobody watches: the worker stops
  EXPECT_EQ(Send("GET", path).status, 200);       // the seats were given back
}

}  // namespace
}  // namespace qardex::service

namespace qardex::service {
namespace {

// Sessions that answer the three diagnostics calls; `during` runs inside the first probe.
struct ProbeCounter final : MethodProvider {
  struct Answers final : MethodSession {
    CallOutcome Call(const ipc::MethodSignature& method, const std::vector<ipc::Value>&,
                     const CallContext&) override {
      return {CallStatus::Ok, ipc::Value{method.result, u"R", 0}, 0};
    }
  };
  std::function<void()> during;
  int probes = 0;
  std::unique_ptr<MethodSession> OpenSession(const Caller&) override {
    if (++probes == 1 && during) during();
    return std::make_unique<Answers>();
  }
};

// One probe at a time for the whole service; its answer is given again for two seconds to the
// same user of the same Windows session only.
TEST(DiagnosticsProbe, OneProbeAtATimeAndAnAnswerReusedForTwoSeconds) {
  std::chrono::steady_clock::time_point now{};
  ProbeCounter provider;
  DiagnosticsProbe probe([&] { return now; }, 100ms);
  const Caller alice = kAlice.caller, bob{12, 2, "S-1-5-21-1002"};
  CallStatus meanwhile = CallStatus::Ok;
  provider.during = [&] {
    meanwhile =
        std::async(std::launch::async, [&] { return probe.Gather(provider, bob).status; }).get();
  };
  const std::string body = probe.Gather(provider, alice).body;
  EXPECT_EQ(meanwhile, CallStatus::Busy) << "bob waited his limit for alice's probe";
  const std::tuple<std::chrono::milliseconds, Caller, int> cases[] = {
      {1999ms, alice, 1}, {0ms, bob, 2}, {1ms, alice, 3}};
  for (const auto& [later, caller, probes] : cases) {
    now += later;
    EXPECT_EQ(probe.Gather(provider, caller).body, body);
    EXPECT_EQ(provider.probes, probes) << later.count();
  }
}

}  // namespace
}  // namespace qardex::service
