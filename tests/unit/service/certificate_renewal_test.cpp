// The service's renewal rounds against a set in place that the test changes, a renewal step that
// fails as the test says, and a clock of its own.
#include "service/certificate_renewal.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "tests/unit/fakes/fake_worker.h"

namespace qardex::service {
namespace {

constexpr std::int64_t kDay = 24 * 60 * 60;

keymint::CertificateFacts SetWith(std::int64_t secondsLeft, const char* serial) {
  keymint::CertificateFacts facts;
  facts.certificatesRead = facts.keyRead = facts.keyMatches = facts.chainsToRoot = true;
  facts.secondsLeft = secondsLeft;
  facts.daysLeft = static_cast<long>(secondsLeft / kDay);
  facts.rootSerial = serial;
  return facts;
}

struct Machine {
  keymint::CertificateFacts inPlace;
  std::vector<std::string> outcomes;  // what each renewal step returns in turn ("!" throws)
  // What a successful step puts in place.
  keymint::CertificateFacts renewed = SetWith(397 * kDay, "B2");
  int renewals = 0;
  std::optional<keymint::RenewalFailure> note;
  std::time_t clock = 1700000000;
  testing::LogLines log;

  RenewalSteps Steps() {
    return {[this](std::time_t) { return inPlace; },
            [this]() -> std::string {
              const std::string outcome = outcomes.at(renewals++);
              if (outcome == "!") throw std::runtime_error("out of memory");
              if (outcome.empty()) inPlace = renewed;
              return outcome == "stale" ? "" : outcome;
            },
            [this](const keymint::RenewalFailure* failure) {
              note = failure ? std::optional(*failure) : std::nullopt;
            },
            [this] { return clock; }};
  }
};

TEST(CertificateRenewal, AUsableSetIsLeftUntilItFallsDue) {
  Machine machine;
  machine.inPlace = SetWith(40 * kDay, "A1");
  CertificateRenewal renewal(machine.Steps(), machine.log);
  EXPECT_EQ(renewal.Round(), 10 * kDay);
  EXPECT_EQ(machine.renewals, 0);
}

// Failures keep the set in place, are noted for the set they were to replace and come back ever
// later; a success drops the note and starts the back-off afresh.
TEST(CertificateRenewal, FailuresBackOffAndASuccessStartsAfresh) {
  Machine machine;
  machine.inPlace = SetWith(20 * kDay, "A1");
  machine.outcomes = {"the store refused", "!", "", "no disk"};
  CertificateRenewal renewal(machine.Steps(), machine.log);

  const std::int64_t first = renewal.Round();
  ASSERT_TRUE(machine.note);
  EXPECT_EQ(machine.note->rootSerial, "A1");
  EXPECT_EQ(machine.note->reason, "the store refused");
  EXPECT_EQ(machine.note->failedAt, machine.clock);
  EXPECT_EQ(machine.note->nextTryAt, machine.clock + first);
  EXPECT_TRUE(machine.log.Has("certificate renewal failed: the store refused; next attempt in"));

  machine.clock += first;
  const std::int64_t second = renewal.Round();
  EXPECT_EQ(second, 2 * first);
  EXPECT_EQ(machine.note->reason, "out of memory");

  machine.clock += second;
  EXPECT_EQ(renewal.Round(), 367 * kDay);
  EXPECT_FALSE(machine.note);
  EXPECT_TRUE(machine.log.Has("certificate renewed: root B2"));

  machine.inPlace = SetWith(-1, "B2");  // expired meanwhile
  EXPECT_EQ(renewal.Round(), first);
  EXPECT_EQ(machine.note->rootSerial, "B2");
  EXPECT_EQ(machine.renewals, 4);
  EXPECT_EQ(machine.log.Kinds(),
            (std::vector<LogEvent>{LogEvent::kRenewalFailed, LogEvent::kRenewalFailed,
                                   LogEvent::kRenewed, LogEvent::kRenewalFailed}));
}

TEST(CertificateRenewal, AStepThatLeavesTheOldSetInPlaceHasFailed) {
  Machine machine;
  machine.inPlace = SetWith(2 * kDay, "A1");
  machine.outcomes = {"stale"};
  CertificateRenewal renewal(machine.Steps(), machine.log);
  EXPECT_GT(renewal.Round(), 0);
  ASSERT_TRUE(machine.note);
  EXPECT_EQ(machine.note->reason.rfind("the new set is not usable", 0), 0u);
}

}  // namespace
}  // namespace qardex::service
