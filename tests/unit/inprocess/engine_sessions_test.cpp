#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "engine/random_generator.h"
#include "inprocess/engine_sessions.h"
#include "tests/unit/fakes/fake_pcsc.h"
#include "tests/unit/fakes/fake_server.h"

namespace qardex::inprocess {
namespace {

// Readers and a server that are never there; the methods under test need nothing more.
class AbsentPlatform : public engine::Platform {
 public:
  card::PcscApi& Pcsc() override { return pcsc; }
  int StartNetwork() override { return 0; }
  void StopNetwork() override {}
  cloud::ServerConnector& Connector() override { return connector; }
  void BeginCryptoUse() override {}
  void EndCryptoUse() override {}
  std::unique_ptr<cloud::SessionKeys> NewSessionKeys() override { return nullptr; }
  std::vector<std::string> ServerKeyPins() override { return {}; }
  bool SystemRandom(std::uint8_t*, std::size_t) override { return false; }
  std::string SystemMessage(std::int32_t) override { return {}; }
  crypto::CalendarDate UtcDate() override { return {2024, 1, 31}; }
  crypto::CalendarDate LocalDate() override { return {2024, 1, 31}; }

  testing::FakePcsc pcsc;
  testing::FakeConnector connector;
};

MethodResult CallOn(EngineSession& session, std::string_view name,
                    std::vector<ipc::Value> args = {}) {
  return session.Call(*ipc::FindMethod(name), args);
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A session's digits follow one generator seeded at its creation, whichever thread runs the
// call and whatever other sessions or the thread itself draw in between.
TEST(WorkerEngineBinding, SessionKeepsItsRandomSequenceAcrossThreads) {
  AbsentPlatform platform;
  EngineSessions provider(platform);
  std::unique_ptr<EngineSession> session;
  std::time_t seed = 0;
  do {  // the engine seeds with the time in seconds: retry across a second's edge
    seed = std::time(nullptr);
    session = provider.OpenSession();
  } while (std::time(nullptr) != seed);
  engine::SeedRandom(static_cast<std::uint32_t>(seed));
  std::vector<std::u16string> expected;
  for (int i = 0; i < 3; ++i) expected.push_back(Wide(engine::RandomDigits16()));

  engine::SeedRandom(77);
  engine::NextRandom();
  const int threadsNextDraw = engine::NextRandom();
  engine::SeedRandom(77);
  engine::NextRandom();
  std::vector<std::u16string> got;
  std::thread([&] { got.push_back(CallOn(*session, "GetRandom").result.text); }).join();
  const std::unique_ptr<EngineSession> other = provider.OpenSession();
  CallOn(*other, "GetRandom");
  std::thread([&] { got.push_back(CallOn(*session, "GetRandom").result.text); }).join();
  got.push_back(CallOn(*session, "GetRandom").result.text);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(engine::NextRandom(), threadsNextDraw);  // the thread's own sequence is untouched
}

}  // namespace
}  // namespace qardex::inprocess
