#include <gtest/gtest.h>

#include <set>

#include "protocol/session_table.h"

namespace qardex::service {
namespace {

using namespace std::chrono_literals;

struct NoCalls : MethodSession {
  CallOutcome Call(const ipc::MethodSignature&, const std::vector<ipc::Value>&,
                   const CallContext&) override {
    return {};
  }
};

const SessionOwner kPage{"https://www.qardex.example", 1, "S-1-5-21-1001"};

struct Fixture {
  std::chrono::steady_clock::time_point now{};
  unsigned counter = 0;
  bool randomWorks = true;
  SessionTable table{[this] { return now; },
                     [this](unsigned char* bytes, std::size_t count) {
                       for (std::size_t i = 0; i < count; ++i) bytes[i] = 0;
                       bytes[count - 1] = static_cast<unsigned char>(counter++ / 2);
                       return randomWorks;  // each id is drawn twice: a repeat is drawn again
                     }};
  std::string Open(const SessionOwner& owner = kPage) {
    const auto opened = table.Open(owner, [] { return std::make_unique<NoCalls>(); });
    return opened.status == SessionTable::OpenStatus::Opened ? opened.id : "";
  }
};

TEST(SessionTable, IdsComeFromTheRandomSourceAndNeverRepeat) {
  Fixture f;
  const std::string first = f.Open();
  EXPECT_EQ(first, std::string(30, '0') + "00");
  EXPECT_EQ(f.Open(), std::string(30, '0') + "01");  // the repeated draw was skipped
  EXPECT_NE(f.table.Find(first, kPage), nullptr);
  f.randomWorks = false;
  EXPECT_EQ(f.table.Open(kPage, [] { return std::make_unique<NoCalls>(); }).status,
            SessionTable::OpenStatus::Unavailable);
  EXPECT_EQ(f.table.Count(), 2u);
}

TEST(SessionTable, IdleSessionsExpireAndUseRestartsTheTime) {
  Fixture f;
  const std::string kept = f.Open();
  const std::string idle = f.Open();
  f.now += 9min;
  EXPECT_NE(f.table.Find(kept, kPage), nullptr);
  f.now += 1min;  // idle has been unused for ten minutes
  EXPECT_EQ(f.table.Find(idle, kPage), nullptr);
  EXPECT_FALSE(f.table.Close(idle, kPage));
  EXPECT_TRUE(f.table.Close(kept, kPage));
  EXPECT_EQ(f.table.Find(kept, kPage), nullptr);
}

TEST(SessionTable, AtMost256AndExpiredOnesMakeRoom) {
  Fixture f;
  std::set<std::string> ids;
  for (std::uint32_t i = 0; i < kMaxSessions; ++i) ids.insert(f.Open({kPage.origin, i, "S-1"}));
  EXPECT_EQ(ids.size(), kMaxSessions);
  EXPECT_EQ(
      f.table.Open({kPage.origin, 999, "S-1"}, [] { return std::make_unique<NoCalls>(); }).status,
      SessionTable::OpenStatus::Full);
  f.now += 10min;
  EXPECT_FALSE(f.Open().empty());
  EXPECT_EQ(f.table.Count(), 1u);
}

// One Windows session fills at most its share of the table, over any number of origins.
TEST(SessionTable, AWindowsSessionTakesAtMostItsShare) {
  Fixture f;
  const auto pageOf = [](std::uint32_t session, std::size_t n) {
    return SessionOwner{"https://p" + std::to_string(n / kMaxSessionsPerOwner) + ".example",
                        session, "S-1"};
  };
  std::size_t opened = 0;
  for (std::size_t n = 0; n <= kMaxSessionsPerWindowsSession; ++n)
    opened += !f.Open(pageOf(1, n)).empty();
  EXPECT_EQ(opened, kMaxSessionsPerWindowsSession);
  EXPECT_FALSE(f.Open(pageOf(2, 0)).empty()) << "another Windows session still has room";
}

// A page's origin with its default port written out, or its host in capitals, is the same page.
TEST(SessionTable, OriginVariantsAreOneOwner) {
  Fixture f;
  const std::string id = f.Open({"https://WWW.qardex.example", 1, "S-1"});
  const SessionOwner variant{"https://www.qardex.example:443", 1, "S-1"};
  EXPECT_NE(f.table.Find(id, variant), nullptr);
  for (std::size_t i = 1; i < kMaxSessionsPerOwner; ++i) EXPECT_NE(f.Open(variant), "");
  EXPECT_EQ(f.Open({"https://www.qardex.example", 1, "S-1"}), "");  // the quota is shared
  EXPECT_TRUE(f.table.Close(id, variant));
}

}  // namespace
}  // namespace qardex::service
