#include <gtest/gtest.h>

#include <string>

#include "qardex_constants.h"
#include "service/origin_lock.h"

namespace qardex::service {
namespace {

TEST(OriginLock, OriginsAsBrowsersSendThem) {
  const struct {
    const char* origin;
    OriginVerdict verdict;
  } cases[] = {
      {"http://localhost", OriginVerdict::Approved},
      {"http://localhost:8080", OriginVerdict::Approved},  // the port plays no part
      {"https://www.qardex.example", OriginVerdict::Approved},
      {"https://198.51.100.7:443", OriginVerdict::Approved},
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
  for (const auto& c : cases) EXPECT_EQ(CheckOrigin(c.origin), c.verdict) << c.origin;
  EXPECT_EQ(CheckOrigin(std::nullopt), OriginVerdict::Missing);
}

// The service's host falls under an approved pattern of the list; a page there is still none.
TEST(OriginLock, TheServicesOwnHostIsNeverAPageOrigin) {
  const std::string host = build::kLocalServiceHost;
  for (const std::string& origin :
       {"https://" + host, "https://" + host + ":443", "https://" + host + "."}) {
    EXPECT_EQ(CheckOrigin(origin), OriginVerdict::Refused) << origin;
  }
}

}  // namespace
}  // namespace qardex::service
