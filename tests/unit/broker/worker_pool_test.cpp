#include <gtest/gtest.h>

#include "broker/worker_session.h"
#include "tests/unit/fakes/fake_worker.h"

namespace qardex::service {
namespace {

using namespace std::chrono_literals;
using testing::Script;

const Caller kAlice{11, 1, "S-1-5-21-1001"};
const Caller kBob{22, 2, "S-1-5-21-1002"};
const ipc::MethodSignature& kGetBasic = *ipc::FindMethod("GetBasic");

class WorkerPoolTest : public ::testing::Test {
 protected:
  testing::FakeStarter starter;
  testing::LogLines log;
  std::chrono::steady_clock::time_point now{};
  WorkerPool pool{starter, log, [this] { return now; }, {2s, 2s, 10min, 2s, 10ms}};

  testing::FakeWorker& Worker(std::size_t i) { return *starter.workers.at(i); }
};

TEST_F(WorkerPoolTest, EachWindowsSessionHasOneWorkerSharedByItsSessions) {
  WorkerSession first(pool, kAlice), second(pool, kAlice), other(pool, kBob);
  const CallOutcome answer = first.Call(kGetBasic, {});
  EXPECT_EQ(answer.status, CallStatus::Ok);
  EXPECT_EQ(answer.result, ipc::Value::Text(u"GetBasic"));
  EXPECT_EQ(second.Call(kGetBasic, {}).lastError, 2);  // the same worker's second call
  EXPECT_EQ(other.Call(kGetBasic, {}).lastError, 1);
  EXPECT_EQ(first.Call(kGetBasic, {}).lastError, 3);
  ASSERT_EQ(starter.workers.size(), 2u);
  EXPECT_EQ(starter.callers[0].userSid, kAlice.userSid);
  EXPECT_EQ(starter.callers[1].windowsSession, kBob.windowsSession);
  EXPECT_EQ(Worker(0).openedSessions, 2);  // once per session on a worker
  EXPECT_TRUE(log.Has("worker started in Windows session 1, process 101"));
}

TEST_F(WorkerPoolTest, ACallWhoseWorkerDiesFailsIsNotSentAgainAndTheNextCallGetsANewWorker) {
  starter.next = Script::Die;
  WorkerSession session(pool, kAlice);
  EXPECT_EQ(session.Call(kGetBasic, {}).status, CallStatus::WorkerEnded);
  starter.next = Script::Answer;
  const CallOutcome again = session.Call(kGetBasic, {});
  EXPECT_EQ(again.status, CallStatus::Ok);
  EXPECT_EQ(again.lastError, 1);
  EXPECT_EQ(Worker(0).calls, 1);
  EXPECT_EQ(starter.workers.size(), 2u);
  EXPECT_EQ(Worker(1).openedSessions, 1);  // a fresh engine session on the new worker
  EXPECT_TRUE(log.Has("worker of Windows session 1 (process 101) exited"));
  EXPECT_EQ(log.Kinds(), std::vector<LogEvent>{LogEvent::kWorkerFailed});
}

TEST_F(WorkerPoolTest, IdleWorkersCloseAndSigningOffEndsTheWorker) {
  {
    WorkerSession session(pool, kAlice);
    session.Call(kGetBasic, {});
    now += 11min;
    pool.RetireIdle();  // the open session keeps its worker
  }
  EXPECT_EQ(Worker(0).closedSessions, 1);
  now += 9min;
  pool.RetireIdle();
  EXPECT_FALSE(Worker(0).closed);
  now += 1min;
  pool.RetireIdle();
  EXPECT_TRUE(Worker(0).closed);
  EXPECT_FALSE(Worker(0).terminated);
  EXPECT_TRUE(log.Has("closed after its idle time"));

  WorkerSession session(pool, kBob);
  session.Call(kGetBasic, {});
  pool.EndWindowsSession(kBob.windowsSession);
  EXPECT_TRUE(Worker(1).terminated);
  EXPECT_TRUE(log.Has("(process 102) ended: its user signed off"));
  EXPECT_TRUE(log.Kinds().empty());                     // ends the pool asked for are no failures
  EXPECT_EQ(session.Call(kGetBasic, {}).lastError, 1);  // a new worker, a fresh session
}

TEST_F(WorkerPoolTest, GetVersionIsAnsweredHereWhileTheSessionsLastErrorIsKnown) {
  const ipc::MethodSignature& getVersion = *ipc::FindMethod("GetVersion");
  const auto here = [](const CallOutcome& answer, std::int32_t lastError) {
    return answer.status == CallStatus::Ok && answer.result == ipc::Value::Text(u"0001") &&
           answer.lastError == lastError;
  };
  WorkerSession session(pool, kAlice);
  EXPECT_TRUE(here(session.Call(getVersion, {}), 0));  // a fresh session needs no worker
  EXPECT_TRUE(starter.workers.empty());
  session.Call(kGetBasic, {});
  EXPECT_TRUE(here(session.Call(getVersion, {}), 1));
  EXPECT_EQ(Worker(0).calls, 1);

  Worker(0).script = Script::Die;  // the session's worker goes: its lastError with it
  EXPECT_EQ(session.Call(kGetBasic, {}).status, CallStatus::WorkerEnded);
  const CallOutcome asked = session.Call(getVersion, {});
  EXPECT_EQ(asked.result, ipc::Value::Text(u"GetVersion"));  // the fake's answer: it was sent
  EXPECT_EQ(Worker(1).openedSessions, 1);
  EXPECT_TRUE(here(session.Call(getVersion, {}), 1));
}

}  // namespace
}  // namespace qardex::service
