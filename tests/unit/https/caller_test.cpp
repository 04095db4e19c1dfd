#include <gtest/gtest.h>

#include "https/caller_lookup.h"

namespace qardex::service {
namespace {

struct Answers {
  std::optional<std::uint32_t> owner, session;
  std::optional<std::string> user, sessionUser;
};

struct FakeSystem final : SystemView {
  explicit FakeSystem(Answers answers) : answers(std::move(answers)) {}
  Answers answers;
  std::uint16_t askedPeer = 0, askedService = 0;
  int processReads = 0;

  std::optional<std::uint32_t> OwnerOfConnection(std::uint16_t peer,
                                                 std::uint16_t service) override {
    askedPeer = peer;
    askedService = service;
    return answers.owner;
  }
  ProcessIdentity IdentityOfProcess(std::uint32_t) override {
    ++processReads;
    return {answers.session, answers.user};
  }
  std::optional<std::string> UserOfSession(std::uint32_t) override { return answers.sessionUser; }
};

// Every answer that is missing refuses the caller; only the signed-in user of a user session is
// served.
TEST(Caller, OnlyTheSignedInUserOfAUserSessionIsServed) {
  const std::string alice = "S-1-5-21-1001", bob = "S-1-5-21-1002";
  const auto none = std::nullopt;
  const struct {
    Answers answers;
    CallerRefusal refusal;
  } cases[] = {
      {{none, 1, alice, alice}, CallerRefusal::NoOwner},
      {{0, 1, alice, alice}, CallerRefusal::NoOwner},
      {{7, none, alice, alice}, CallerRefusal::NoOwner},
      {{7, 0, alice, alice}, CallerRefusal::SystemSession},
      {{7, 1, none, alice}, CallerRefusal::NoOwner},
      {{7, 1, "", alice}, CallerRefusal::NoOwner},
      {{7, 1, alice, none}, CallerRefusal::NoInteractiveUser},
      {{7, 1, alice, bob}, CallerRefusal::NotSessionUser},
      {{7, 1, alice, alice}, CallerRefusal::None},
  };
  for (const auto& c : cases) {
    FakeSystem system(c.answers);
    const CallerCheck check = IdentifyCaller(system, 50123, 14443);
    EXPECT_EQ(check.refusal, c.refusal) << RefusalText(c.refusal);
    EXPECT_TRUE(system.askedPeer == 50123 && system.askedService == 14443);
    EXPECT_LE(system.processReads, 1) << "the process is read once, session and user together";
    if (c.refusal == CallerRefusal::None) {
      EXPECT_EQ(check.caller.userSid, alice);
    }
  }
}

}  // namespace
}  // namespace qardex::service
