// When a set falls due, how the retries slow down, the note of a failure, and the lifetime
// tests may give new sets.
#include "keymint/renewal_plan.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "keymint/certificate_set.h"
#include "qardex_constants.h"

namespace qardex::keymint {
namespace {

const ServerNames kNames{build::kLocalServiceHost, "127.0.0.1"};
constexpr std::int64_t kDay = 24 * 60 * 60;

TEST(PlanRenewal, EachConditionOfTheSetInPlace) {
  const std::time_t now = std::time(nullptr);
  const CertificateSet set = MintCertificateSet(kNames, now);
  const CertificateSet other = MintCertificateSet(kNames, now);
  const std::string crt = set.rootCertificate + set.serverCertificate;
  const struct {
    const char* name;
    std::string certificates;
    std::string key;
    std::time_t when;
    SetCondition condition;
  } cases[] = {
      {"fresh", crt, set.serverKey, now, SetCondition::kUsable},
      {"31 days left", crt, set.serverKey, now + 366 * kDay, SetCondition::kUsable},
      {"29 days left", crt, set.serverKey, now + 368 * kDay, SetCondition::kDue},
      {"expired", crt, set.serverKey, now + 397 * kDay, SetCondition::kUnusable},
      {"no key", crt, "", now, SetCondition::kUnusable},
      {"no certificates", "", set.serverKey, now, SetCondition::kUnusable},
      {"key of another set", crt, other.serverKey, now, SetCondition::kUnusable},
      {"root of another set first, still serving", other.rootCertificate + crt, set.serverKey, now,
       SetCondition::kUsable},
  };
  for (const auto& c : cases) {
    const RenewalPlan plan = PlanRenewal(ExamineCertificates(c.certificates, c.key, c.when));
    EXPECT_EQ(plan.condition, c.condition) << c.name;
    EXPECT_EQ(plan.condition == SetCondition::kUsable, *plan.reason == '\0') << c.name;
  }
}

// A test's lifetime makes a set that falls due seconds after it is made, to the second.
TEST(PlanRenewal, ATestLifetimeFallsDueWhenItSays) {
  const std::time_t now = std::time(nullptr);
  const std::int64_t lifetime = kRenewBeforeSeconds + 60 * 60 + 20;  // notBefore is an hour back
  ::setenv("QARDEX_TEST_CERTIFICATE_SECONDS", std::to_string(lifetime).c_str(), 1);
  EXPECT_EQ(LifetimeOfNewSets(), lifetime);
  ::unsetenv("QARDEX_TEST_CERTIFICATE_SECONDS");
  const CertificateSet set = MintCertificateSet(kNames, now, lifetime);
  const std::string crt = set.rootCertificate + set.serverCertificate;
  const RenewalPlan before = PlanRenewal(ExamineCertificates(crt, set.serverKey, now));
  EXPECT_EQ(before.condition, SetCondition::kUsable);
  EXPECT_EQ(before.secondsUntilDue, 20);
  EXPECT_EQ(PlanRenewal(ExamineCertificates(crt, set.serverKey, now + 20)).condition,
            SetCondition::kDue);
}

TEST(SetLifetimeSeconds, TakesOnlyAPlainNumberThatLeavesTimeBeforeTheWindow) {
  const std::int64_t usual = SetLifetimeSeconds(nullptr);
  const std::int64_t shortest = kRenewBeforeSeconds + 60 * 60 + 10;
  // "3600": due at once, a renewed set would be renewed again and again.
  for (const char* text : {"", "abc", "-5", "3600", "99999999999999999999"}) {
    EXPECT_EQ(SetLifetimeSeconds(text), usual) << text;
  }
  EXPECT_EQ(SetLifetimeSeconds(std::to_string(shortest).c_str()), shortest);
  EXPECT_EQ(SetLifetimeSeconds(std::to_string(usual + 1).c_str()), usual);
}

TEST(RetryDelaySeconds, DoublesWithEachFailureUpToABound) {
  std::int64_t previous = RetryDelaySeconds(1);
  EXPECT_GT(previous, 0);
  int failures = 2;
  for (; failures < 64 && RetryDelaySeconds(failures) == 2 * previous; ++failures) {
    previous = RetryDelaySeconds(failures);
  }
  ASSERT_LT(failures, 64);
  const std::int64_t bound = RetryDelaySeconds(failures);
  EXPECT_LT(bound, 2 * previous);
  EXPECT_EQ(RetryDelaySeconds(failures + 1), bound);
  EXPECT_EQ(RetryDelaySeconds(1000), bound);
}

TEST(RenewalFailure, NoteReadsBackAndRefusesAnythingElse) {
  const RenewalFailure failure{1700000000, 1700000060, "0A1B", "the store refused\r\nit"};
  const std::string note = FormatRenewalFailure(failure);
  EXPECT_EQ(note.find('\r'), std::string::npos);
  const std::optional<RenewalFailure> read = ParseRenewalFailure(note);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->failedAt, failure.failedAt);
  EXPECT_EQ(read->nextTryAt, failure.nextTryAt);
  EXPECT_EQ(read->rootSerial, "0A1B");
  EXPECT_EQ(read->reason, "the store refused  it");
  for (const char* bad : {"", "failed", "failed 1 2", "failed 1 2 0a1b why", "failed x 2 AB why",
                          "renewed 1 2 AB why", "failed 1 2 AB why\nfailed 1 2 AB why"}) {
    EXPECT_FALSE(ParseRenewalFailure(bad)) << bad;
  }
}

}  // namespace
}  // namespace qardex::keymint
