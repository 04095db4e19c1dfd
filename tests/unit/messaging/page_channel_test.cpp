#include "messaging/page_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "inprocess/in_process_runner.h"
#include "protocol/protocol_revision.h"
#include "tests/unit/fakes/fake_worker.h"

namespace qardex::messaging {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kOrigin[] = "https://www.qardex.example";

// The browser's side of the port: frames written in, closed when the test says.
class Port final : public ByteSource, public MessageSink {
 public:
  void Write(const std::string& json) { Bytes(FrameOf(json).value()); }
  void Bytes(const std::string& bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    in_ += bytes;
    changed_.notify_all();
  }
  void Close() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    changed_.notify_all();
  }
  std::size_t Read(char* buffer, std::size_t capacity) override {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return closed_ || !in_.empty(); });
    const std::size_t count = std::min(capacity, in_.size());
    std::memcpy(buffer, in_.data(), count);
    in_.erase(0, count);
    return count;
  }
  bool Send(std::string_view json) override {
    std::lock_guard<std::mutex> hold(lock_);
    out_.emplace_back(json);
    changed_.notify_all();
    return true;
  }
  bool Holds(const std::string& part) {
    std::lock_guard<std::mutex> hold(lock_);
    return std::any_of(out_.begin(), out_.end(),
                       [&](const std::string& m) { return m.find(part) != std::string::npos; });
  }
  // The first message sent that holds `part`, waiting up to 5 s for it.
  std::string Awaited(const std::string& part) {
    std::unique_lock<std::mutex> hold(lock_);
    std::string found;
    changed_.wait_for(hold, 5s, [&] {
      for (const std::string& message : out_) {
        if (message.find(part) != std::string::npos) return !(found = message).empty();
      }
      return false;
    });
    return found;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::string in_;
  bool closed_ = false;
  std::vector<std::string> out_;
};

// The engine's methods answer their name; "H_Sign" with argument "hold" keeps the card until
// released.
struct FakeEngine final : inprocess::EngineSessionFactory {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  struct Session final : inprocess::EngineSession {
    explicit Session(FakeEngine& engine) : engine(engine) {}
    inprocess::MethodResult Call(const ipc::MethodSignature& method,
                                 const std::vector<ipc::Value>& args) override {
      if (!args.empty() && args[0].text == u"hold") engine.released.wait();
      if (method.result == ipc::ValueType::Number) return {ipc::Value::Number(7), 0};
      return {ipc::Value::Text(std::u16string(method.name.begin(), method.name.end())), 3};
    }
    FakeEngine& engine;
  };
  std::unique_ptr<inprocess::EngineSession> OpenSession() override {
    return std::make_unique<Session>(*this);
  }
};

// A reader watch that reports one reader, then a card in it.
struct OneReader final : inprocess::ReaderEventSource {
  struct Watch final : inprocess::ReaderEventWatch {};
  std::unique_ptr<inprocess::ReaderEventWatch> Start(inprocess::ReaderEventSink sink) override {
    using Kind = ipc::ReaderEvent::Kind;
    sink({Kind::ReaderAdded, 0, false, u"QX Solo"});
    sink({Kind::Synced, -1, false, {}});
    sink({Kind::CardInserted, 0, true, u"QX Solo"});
    return std::make_unique<Watch>();
  }
};

class PageChannelTest : public ::testing::Test {
 protected:
  PageChannelTest() {
    served = std::async(std::launch::async, [this] {
      return ServeChannel(port, port, protocol, {11, 1, "S-1-5-21-1001"}, log,
                          [](std::function<void()> work) {
                            std::thread(std::move(work)).detach();
                            return true;
                          });
    });
  }
  ~PageChannelTest() override {
    engine.release.set_value();
    port.Close();
    served.wait();
  }
  std::string Ask(int id, const std::string& rest) {
    port.Write("{\"id\":" + std::to_string(id) + ",\"origin\":\"" + kOrigin + "\"," + rest + "}");
    return port.Awaited("{\"id\":" + std::to_string(id) + ",");
  }
  std::string Session(int id = 1) {
    const std::string opened = Ask(id, R"("ask":"open")");
    return opened.substr(opened.find("\"session\":\"") + 11, 32);
  }

  FakeEngine engine;
  OneReader readers;
  inprocess::InProcessRunner runner{engine, &readers, 10s};
  unsigned char next = 0;
  service::SessionTable sessions{Clock::now, [this](unsigned char* bytes, std::size_t count) {
                                   std::fill(bytes, bytes + count, next++);
                                   return true;
                                 }};
  service::PageProtocol protocol{runner, sessions, 300ms};
  service::testing::LogLines log;
  Port port;
  std::future<ChannelEnd> served;
};

TEST_F(PageChannelTest, AnswersCarryTheAskersIdsAndTheServicesStatuses) {
  const std::string id = Session();
  const struct {
    std::string rest;
    std::string answer;
  } cases[] = {
      {R"("ask":"version")",
       R"("status":200,"body":{"version":"0001","product":")" QARDEX_PRODUCT_VERSION
       R"(","protocol":)" +
           std::to_string(service::kPageProtocolRevision) + R"(,"oldestLibraryProtocol":)" +
           std::to_string(service::kOldestLibraryRevision) + "}}"},
      {R"("ask":"call","session":")" + id + R"(","method":"GetBasic","args":[])",
       R"("status":200,"body":{"result":"GetBasic","lastError":3}})"},
      {R"("ask":"call","session":")" + id + R"(","method":"GetHCConnectNo","args":[])",
       R"("status":200,"body":{"result":7,"lastError":0}})"},
      {R"("ask":"call","session":")" + id + R"(","method":"GetBasic")",
       R"("status":400,"body":{"error":"malformed JSON"}})"},
      {R"("ask":"call","session":")" + id + R"(","method":"GetBasic","args":[1])",
       R"("status":400,"body":{"error":"wrong arguments"}})"},
      {R"("ask":"call","session":"0","method":"GetBasic","args":[])",
       R"("status":404,"body":{"error":"unknown session"}})"},
      {R"("ask":"teleport")", R"("status":404,"body":{"error":"not found"}})"},
      {R"("ask":"close","session":")" + id + R"(")", R"("status":204,"body":{}})"},
  };
  int next = 10;
  for (const auto& c : cases) {
    EXPECT_EQ(Ask(next, c.rest), "{\"id\":" + std::to_string(next) + "," + c.answer) << c.rest;
    ++next;
  }
  // The origin the browser reported decides, whatever else the message says.
  port.Write(R"({"id":40,"origin":"https://evil.example","ask":"open"})");
  EXPECT_EQ(port.Awaited(R"({"id":40,)"),
            R"({"id":40,"status":403,"body":{"error":"origin not approved"}})");
}

TEST_F(PageChannelTest, OneCardTransactionAtATimeAndACancelGivesUpTheWait) {
  const std::string first = Session(1);
  const std::string second = Session(2);
  const auto call = [](int id, const std::string& session, const char* method, const char* arg) {
    return "{\"id\":" + std::to_string(id) + ",\"origin\":\"" + kOrigin +
           "\",\"ask\":\"call\",\"session\":\"" + session + "\",\"method\":\"" + method +
           "\",\"args\":[" + arg + "]}";
  };
  port.Write(call(5, first, "H_Sign", "\"hold\""));
  std::this_thread::sleep_for(50ms);
  // GetVersion needs no card; another session's card call waits for it.
  port.Write(call(6, second, "GetVersion", ""));
  EXPECT_EQ(port.Awaited(R"({"id":6,)"),
            R"({"id":6,"status":200,"body":{"result":"GetVersion","lastError":3}})");
  port.Write(call(8, second, "GetName", ""));
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(port.Holds(R"({"id":8,)"));
  const auto cancelled = Clock::now();
  port.Write(R"({"id":8,"cancel":true})");
  EXPECT_EQ(port.Awaited(R"({"id":8,)"),
            R"({"id":8,"status":503,"body":{"error":"card busy"},"retryAfter":5})");
  EXPECT_LT(Clock::now() - cancelled, 2s);  // not the 10 s card wait
  EXPECT_FALSE(port.Holds(R"({"id":5,)"));
  engine.release.set_value();
  engine.release = {};
  EXPECT_EQ(port.Awaited(R"({"id":5,)"),
            R"({"id":5,"status":200,"body":{"result":"H_Sign","lastError":3}})");
}

TEST_F(PageChannelTest, ReaderEventsFollowTheWatchUntilItIsCancelled) {
  const std::string id = Session();
  port.Write(std::string(R"({"id":3,"origin":")") + kOrigin + R"(","ask":"watch","session":")" +
             id + R"("})");
  EXPECT_NE(port.Awaited(R"({"id":3,"event":{"type":"state")").find("QX Solo"), std::string::npos);
  EXPECT_NE(port.Awaited(R"({"id":3,"event":{"type":"card-inserted")"), "");
  port.Write(R"({"id":3,"cancel":true})");
  EXPECT_EQ(port.Awaited(R"({"id":3,"end")"), R"({"id":3,"end":true})");
}

TEST(PageChannel, InputThatIsNotOursEndsTheChannel) {
  const std::string cases[] = {
      FrameOf("not json").value(),
      FrameOf(R"({"ask":"version"})").value(),          // no id
      FrameOf(R"({"id":-1,"ask":"version"})").value(),  // not an id JavaScript gives
      FrameOf(R"({"id":1,"cancel":"yes"})").value(),
      std::string("\x05\x00\x00\x00{}", 6),  // cut short
      std::string("\xff\xff\xff\x7f", 4),    // beyond the bound
  };
  for (const std::string& input : cases) {
    FakeEngine engine;
    inprocess::InProcessRunner runner{engine, nullptr};
    service::SessionTable sessions{Clock::now, [](unsigned char*, std::size_t) { return true; }};
    service::PageProtocol protocol{runner, sessions};
    service::testing::LogLines log;
    Port port;
    port.Bytes(input);
    port.Close();
    EXPECT_EQ(
        ServeChannel(port, port, protocol, {}, log, [](std::function<void()>) { return false; }),
        ChannelEnd::Malformed);
    EXPECT_TRUE(log.Has("native messaging ended"));
    EXPECT_EQ(log.Kinds(), std::vector{service::LogEvent::kHostBadMessage});  // an event too
  }
}

}  // namespace
}  // namespace qardex::messaging
