#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "worker/worker_loop.h"

namespace qardex::worker {
namespace {

using namespace std::chrono_literals;
using ipc::Message;
using ipc::Value;
using inprocess::ReaderEventSink;

// The service's end of the pipe and the methods' sessions. A call answers "<method>:<argument>"
// (7 for numbers) with its session's call count as lastError; ServiceStatus and GetBasic wait
// inside until Release(); GetLastError throws.
class FakeService : public PipeEnd, public EngineSessionFactory {
 public:
  std::vector<std::string_view> ran;
  std::size_t holding = 0;  // calls waiting inside

  void Push(const std::string& bytes, bool close = false) {
    std::lock_guard<std::mutex> lock(mutex_);
    incoming_ += bytes;
    closed_ |= close;
    changed_.notify_all();
  }
  void Send(const Message& message) { Push(ipc::Frame(ipc::Encode(message))); }
  // Whether `done` came true (checked with this fake locked) within `limit`.
  template <typename Done>
  bool Await(Done done, std::chrono::milliseconds limit = 5s) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, done);
  }
  // The next message the worker wrote.
  std::optional<Message> Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, 5s, [this] { return !written_.empty(); })) return std::nullopt;
    Message message = std::move(written_.front());
    written_.pop_front();
    return message;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

  bool Write(std::string_view bytes) override {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.Feed(bytes);
    for (std::string payload; frames_.Next(payload) == ipc::FrameReader::Status::Ready;) {
      written_.push_back(ipc::Decode(payload).value_or(ipc::Failed{0, "undecodable"}));
    }
    changed_.notify_all();
    return true;
  }
  ReadStatus Read(std::string& bytes, std::chrono::milliseconds limit) override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return !incoming_.empty() || closed_; });
    if (incoming_.empty()) return closed_ ? ReadStatus::Closed : ReadStatus::Timeout;
    bytes += std::exchange(incoming_, {});
    return ReadStatus::Data;
  }
  std::unique_ptr<EngineSession> OpenSession() override { return std::make_unique<Fake>(*this); }

 private:
  struct Fake : EngineSession {
    explicit Fake(FakeService& all) : all(all) {}
    MethodResult Call(const ipc::MethodSignature& method, const std::vector<Value>& args) override {
      std::unique_lock<std::mutex> lock(all.mutex_);
      all.ran.push_back(method.name);
      if (method.name == "ServiceStatus" || method.name == "GetBasic") {
        ++all.holding;
        all.changed_.notify_all();
        all.changed_.wait_for(lock, 5s, [&] { return all.released_; });
      }
      if (method.name == "GetLastError") throw std::runtime_error("broken");
      if (method.result == ipc::ValueType::Number) return {Value::Number(7), ++calls};
      std::u16string text(method.name.begin(), method.name.end());
      return {Value::Text(args.empty() ? text : text + u":" + args[0].text), ++calls};
    }
    FakeService& all;
    int calls = 0;
  };
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string incoming_;
  bool closed_ = false;
  bool released_ = false;
  ipc::FrameReader frames_;
  std::deque<Message> written_;
};

class WorkerLoopTest : public ::testing::Test {
 protected:
  void Start() {
    loop_ =
        std::thread([this] { exitCode_ = RunWorkerLoop(service, service, 42, limits, events); });
    EXPECT_EQ(service.Next(), Message(ipc::Hello{42}));
  }
  int Stop() {
    service.Push("", true);
    service.Release();
    if (loop_.joinable()) loop_.join();
    return exitCode_;
  }
  void TearDown() override { Stop(); }
  bool Ran(std::string_view method) {
    return std::count(service.ran.begin(), service.ran.end(), method) != 0;
  }

  FakeService service;
  LoopLimits limits{10s, 5s, 20ms};
  ReaderEventSource* events = nullptr;

 private:
  std::thread loop_;
  int exitCode_ = -1;
};

TEST_F(WorkerLoopTest, AnswersCallsAndFailsWhatDoesNotFit) {
  Start();
  service.Send(ipc::OpenSession{1});
  service.Send(ipc::Call{1, 1, "EnCrypt", {Value::Text(u"\xD800")}});
  EXPECT_EQ(service.Next(), Message(ipc::Result{1, Value::Text(u"EnCrypt:\xD800"), 1}));
  service.Send(ipc::Call{2, 1, "GetHCConnectNo", {}});
  EXPECT_EQ(service.Next(), Message(ipc::Result{2, Value::Number(7), 2}));
  const ipc::Call failing[] = {
      {3, 2, "GetVersion", {}},   {4, 1, "getversion", {}},
      {5, 1, "EnCrypt", {}},      {6, 1, "EnCrypt", {Value::Number(1)}},
      {7, 1, "GetLastError", {}},  // throws
  };
  for (const ipc::Call& call : failing) {
    service.Send(call);
    const auto answer = service.Next();
    ASSERT_TRUE(answer && std::holds_alternative<ipc::Failed>(*answer)) << call.callId;
    EXPECT_EQ(std::get<ipc::Failed>(*answer).callId, call.callId);
  }
  service.Send(ipc::CloseSession{1});
  service.Send(ipc::Call{8, 1, "GetVersion", {}});
  EXPECT_TRUE(std::holds_alternative<ipc::Failed>(service.Next().value_or(ipc::Busy{})));
  EXPECT_EQ(Stop(), kWorkerExitPipeClosed);
}

// Sessions 1-31 each hold a call at once; session 1's second call waits its turn and is the
// 32nd call held, so a 33rd is Busy at once.
TEST_F(WorkerLoopTest, SessionsRunSideBySideOneSessionsCallsInTurnAtMost32) {
  Start();
  for (std::uint32_t id = 1; id < kMaxCalls; ++id) {
    service.Send(ipc::OpenSession{id});
    service.Send(ipc::Call{id, id, "ServiceStatus", {}});
  }
  // Once they hold (a call sent earlier could still race session 1's first for its turn).
  ASSERT_TRUE(service.Await([&] { return service.holding == kMaxCalls - 1; }));
  service.Send(ipc::Call{100, 1, "GetVersion", {}});
  EXPECT_FALSE(service.Await([&] { return Ran("GetVersion"); }, 100ms));  // session 1 is busy
  service.Send(ipc::Call{101, 2, "GetVersion", {}});
  EXPECT_EQ(service.Next(), Message(ipc::Busy{101}));
  service.Release();
  bool secondInTurn = false;  // session 1's GetVersion ran after its first call ended
  for (std::size_t i = 0; i < kMaxCalls; ++i) {
    const auto answer = service.Next();
    ASSERT_TRUE(answer && std::holds_alternative<ipc::Result>(*answer)) << i;
    secondInTurn |= *answer == Message(ipc::Result{100, Value::Text(u"GetVersion"), 2});
  }
  EXPECT_TRUE(secondInTurn);
}

TEST_F(WorkerLoopTest, CardWaitRunsOutButOtherWorkGoesOnAndRunningCallsFinish) {
  limits.cardWait = 100ms;
  Start();
  for (std::uint64_t id : {1, 2, 3}) service.Send(ipc::OpenSession{id});
  service.Send(ipc::Call{1, 1, "GetBasic", {}});
  ASSERT_TRUE(service.Await([&] { return service.holding == 1; }));
  const auto sent = std::chrono::steady_clock::now();
  service.Send(ipc::Call{2, 2, "GetName", {}});
  service.Send(ipc::Call{3, 3, "GetVersion", {}});
  std::set<std::string> answers;  // in either order
  for (int i = 0; i < 2; ++i) answers.insert(ipc::Encode(service.Next().value_or(ipc::Busy{})));
  EXPECT_GE(std::chrono::steady_clock::now() - sent, limits.cardWait);
  EXPECT_EQ(answers,
            (std::set<std::string>{ipc::Encode(ipc::Busy{2}),
                                   ipc::Encode(ipc::Result{3, Value::Text(u"GetVersion"), 1})}));
  EXPECT_EQ(Stop(), kWorkerExitPipeClosed);  // the held call still answers before the loop ends
  EXPECT_EQ(service.Next(), Message(ipc::Result{1, Value::Text(u"GetBasic"), 1}));
  EXPECT_FALSE(Ran("GetName"));
}

TEST(WorkerLoop, EndsOnTheFirstFrameItCannotTake) {
  const auto framed = [](const Message& message) { return ipc::Frame(ipc::Encode(message)); };
  const struct {
    std::string bytes;
    int exitCode;
  } cases[] = {
      {"", kWorkerExitPipeClosed},
      {framed(ipc::OpenSession{1}) + "\x05", kWorkerExitPipeClosed},
      {ipc::Frame(""), kWorkerExitBadMessage},
      {ipc::Frame("\x09"), kWorkerExitBadMessage},
      {framed(ipc::OpenSession{1}) + ipc::Frame("\x02"), kWorkerExitBadMessage},
      {std::string("\x01\x00\x01\x00", 4), kWorkerExitBadMessage},
      {framed(ipc::Hello{1}), kWorkerExitBadMessage},
      {framed(ipc::Result{1, Value::Number(0), 0}), kWorkerExitBadMessage},
      {framed(ipc::Busy{1}), kWorkerExitBadMessage},
      {framed(ipc::Failed{1, "x"}), kWorkerExitBadMessage},
  };
  for (const auto& c : cases) {
    FakeService service;
    service.Push(c.bytes, true);
    EXPECT_EQ(RunWorkerLoop(service, service, 1, {1s, 1s, 10ms}), c.exitCode) << c.bytes.size();
  }
}

// A watch reports Synced when it starts and counts how many run.
struct CountingWatches : ReaderEventSource {
  struct Running : ReaderEventWatch {
    explicit Running(std::atomic<int>& running) : count(running) { ++count; }
    ~Running() override { --count; }
    std::atomic<int>& count;
  };
  std::unique_ptr<ReaderEventWatch> Start(ReaderEventSink sink) override {
    ++started;
    sink(ipc::ReaderEvent{});
    return std::make_unique<Running>(running);
  }
  int started = 0;
  std::atomic<int> running{0};
};

TEST_F(WorkerLoopTest, WatchesTheReadersOnlyWhileTheServiceAsks) {
  CountingWatches watches;
  events = &watches;
  Start();
  service.Send(ipc::Watch{true});
  service.Send(ipc::Watch{true});
  EXPECT_EQ(service.Next(), Message(ipc::ReaderEvent{}));
  service.Send(ipc::Watch{false});
  service.Send(ipc::OpenSession{1});
  service.Send(ipc::Call{1, 1, "GetVersion", {}});
  EXPECT_EQ(service.Next(), Message(ipc::Result{1, Value::Text(u"GetVersion"), 1}));
  EXPECT_EQ(watches.started, 1);
  EXPECT_EQ(watches.running, 0);
  service.Send(ipc::Watch{true});
  EXPECT_EQ(service.Next(), Message(ipc::ReaderEvent{}));
  EXPECT_EQ(Stop(), kWorkerExitPipeClosed);
  EXPECT_EQ(watches.running, 0);  // the loop's end stopped it
}

TEST_F(WorkerLoopTest, ACallGivenUpWhileWaitingForTheCardNeverRuns) {
  Start();
  service.Send(ipc::OpenSession{1});
  service.Send(ipc::OpenSession{2});
  service.Send(ipc::Call{1, 1, "GetBasic", {}});  // holds the card until released
  ASSERT_TRUE(service.Await([&] { return service.holding == 1; }));
  service.Send(ipc::Call{2, 2, "GetName", {}});
  service.Send(ipc::Cancel{2});
  EXPECT_EQ(service.Next(), Message(ipc::Failed{2, "cancelled"}));
  service.Send(ipc::Cancel{1});  // running already: it goes on
  service.Release();
  EXPECT_EQ(service.Next(), Message(ipc::Result{1, Value::Text(u"GetBasic"), 1}));
  EXPECT_FALSE(Ran("GetName"));
}

}  // namespace
}  // namespace qardex::worker
