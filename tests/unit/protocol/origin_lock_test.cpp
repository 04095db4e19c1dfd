#include <gtest/gtest.h>

#include <string>

#include "qardex_constants.h"
#include "protocol/localhost_policy.h"
#include "protocol/origin_lock.h"
#include "tests/unit/fakes/fake_worker.h"

namespace qardex::service {
namespace {

using namespace std::chrono_literals;

const sitelock::LocalhostPorts kNoPorts{};

TEST(OriginLock, OriginsAsBrowsersSendThem) {
  const sitelock::LocalhostPorts listed{{80, 8080}};
  const struct {
    const char* origin;
    OriginVerdict verdict;
    const char* canonical = "";
  } cases[] = {
      {"http://localhost", OriginVerdict::Approved, "http://localhost"},
      {"http://localhost:8080", OriginVerdict::Approved, "http://localhost:8080"},
      {"http://localhost:80", OriginVerdict::Approved, "http://localhost"},
      {"http://localhost:08080", OriginVerdict::Approved, "http://localhost:8080"},
      {"https://www.qardex.example", OriginVerdict::Approved, "https://www.qardex.example"},
      {"https://www.qardex.example:443", OriginVerdict::Approved, "https://www.qardex.example"},
      {"https://www.qardex.example:80", OriginVerdict::Approved, "https://www.qardex.example:80"},
      {"https://198.51.100.7:443", OriginVerdict::Approved, "https://198.51.100.7"},
      {"https://localhost", OriginVerdict::Refused},
      {"http://www.qardex.example", OriginVerdict::Refused},
      {"https://qardex.example", OriginVerdict::Refused},
      {"https://evil.example", OriginVerdict::Refused},
      {"https://WWW.QARDEX.EXAMPLE", OriginVerdict::Refused},
      {"null", OriginVerdict::Refused},
      {"", OriginVerdict::Refused},
      {"https://www.qardex.example/", OriginVerdict::Refused},
      {"https://user@www.qardex.example", OriginVerdict::Refused},
      {"https://www.qardex.example:99999", OriginVerdict::Refused},
      {"https://www.qardex.example:", OriginVerdict::Refused},
      {"https://www.qardex.example.evil.example", OriginVerdict::Refused},
      {"https://\xC3\xA9t\xC3\xA9.qardex.example", OriginVerdict::Refused},
      {"HTTP://localhost", OriginVerdict::Refused},
      {"file://", OriginVerdict::Refused},
  };
  for (const auto& c : cases) {
    const OriginCheck check = CheckOrigin(c.origin, listed);
    EXPECT_EQ(check.verdict, c.verdict) << c.origin;
    EXPECT_EQ(check.origin, c.canonical) << c.origin;
  }
  EXPECT_EQ(CheckOrigin(std::nullopt, listed).verdict, OriginVerdict::Missing);
  EXPECT_EQ(CanonicalOrigin("HTTPS://A.Qardex.example:443"), std::nullopt);
  EXPECT_EQ(CanonicalOrigin("https://A.Qardex.example:443"), "https://a.qardex.example");
}

// Every user of the machine shares the loopback ports: only the administrator's are approved.
TEST(OriginLock, LocalhostOnlyOnTheListedPorts) {
  const struct {
    const char* origin;
    const char* policy;
    OriginVerdict verdict;
  } cases[] = {
      {"http://localhost:8081", "", OriginVerdict::Refused},
      {"http://localhost", "", OriginVerdict::Refused},
      {"http://localhost:8081", "8081", OriginVerdict::Approved},
      {"http://localhost:8081", "8080, 8443", OriginVerdict::Refused},
      {"http://localhost:8081", "8081,x", OriginVerdict::Refused},  // a broken list lists none
      {"http://foo.localhost:8081", "8081", OriginVerdict::Refused},
      {"http://localhost.:8081", "8081", OriginVerdict::Refused},
      {"http://LocalHost:8081", "8081", OriginVerdict::Refused},
      {"https://localhost:8081", "8081", OriginVerdict::Refused},
      {"https://www.qardex.example:8081", "", OriginVerdict::Approved},
  };
  for (const auto& c : cases) {
    const auto ports = sitelock::ParseLocalhostPorts(c.policy).value_or(kNoPorts);
    EXPECT_EQ(CheckOrigin(c.origin, ports).verdict, c.verdict) << c.origin << " " << c.policy;
  }
}

// The policy is read at most every five seconds on the clock; a changed value then applies.
TEST(OriginLock, LocalhostPolicyIsReadAgainAfterItsInterval) {
  std::chrono::steady_clock::time_point now{};
  int reads = 0;
  PolicyText value{PolicyText::State::Text, "8081", 0};
  testing::LogLines log;
  LocalhostPolicy policy([&] { return ++reads, value; }, [&] { return now; }, log);
  const auto lists = [&](std::uint16_t port) { return policy.Current().Lists(port); };
  EXPECT_TRUE(lists(8081));
  value.text = "9000";
  now += 4s;
  EXPECT_TRUE(lists(8081) && !lists(9000));
  now += 1s;
  EXPECT_TRUE(lists(9000) && !lists(8081));
  EXPECT_EQ(reads, 2);
  value.text = "9000;9001";
  now += 5s;
  EXPECT_FALSE(lists(9000));
  EXPECT_TRUE(log.Has("policy LocalhostPorts is not a list of port numbers"));
  value = {PolicyText::State::Unreadable, "9000", 1630};
  now += 5s;
  EXPECT_FALSE(lists(9000));
  EXPECT_TRUE(log.Has("(error 1630)"));
}

// The service's host falls under an approved pattern of the list; a page there is still none.
TEST(OriginLock, TheServicesOwnHostIsNeverAPageOrigin) {
  const std::string host = build::kLocalServiceHost;
  for (const std::string& origin :
       {"https://" + host, "https://" + host + ":443", "https://" + host + "."}) {
    EXPECT_EQ(CheckOrigin(origin, kNoPorts).verdict, OriginVerdict::Refused) << origin;
  }
}

}  // namespace
}  // namespace qardex::service
