// When the local service renews its certificate set, how long it waits after a failed attempt,
// and the note of a failed attempt that the set-up check reads. Pure: the facts come from
// ExamineCertificates, the time from the caller's clock.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "keymint/certificate_facts.h"

namespace qardex::keymint {

// A set is renewed this long before its server certificate expires.
inline constexpr std::int64_t kRenewBeforeSeconds = 30 * 24 * 60 * 60;

enum class SetCondition {
  kUsable,    // serves, not yet due
  kDue,       // serves, but inside the renewal window
  kUnusable,  // missing, unreadable, expired, or its parts do not belong together
};

struct RenewalPlan {
  SetCondition condition = SetCondition::kUnusable;
  std::int64_t secondsUntilDue = 0;  // 0 unless usable
  const char* reason = "";           // why it is due or unusable, for the log
};

// A set does not match when the key has no certificate in ZELServerCert.crt. One whose first
// certificate is not the root of the key's certificate still serves (the file holds the chain)
// and is left to the set-up check (CERT_CHAIN): renewing it at start would race the installer,
// which imports the root it placed once the service listens and deletes every other root of ours.
RenewalPlan PlanRenewal(const CertificateFacts& facts);

// The wait after the `failures`-th failed attempt in a row (1 for the first): a minute, doubled
// with each further failure, at most six hours.
std::int64_t RetryDelaySeconds(int failures);

// The note a failed renewal leaves beside the certificate files, for the set-up check: when it
// failed, when the next attempt is due, the serial number of the root whose set it was to
// replace, and why. One line of text.
struct RenewalFailure {
  std::int64_t failedAt = 0;   // seconds since 1970, UTC
  std::int64_t nextTryAt = 0;  // likewise
  std::string rootSerial;
  std::string reason;
};
std::string FormatRenewalFailure(const RenewalFailure& failure);
std::optional<RenewalFailure> ParseRenewalFailure(std::string_view text);

// The lifetime of a new set in seconds: the usual one, or `overrideText` (decimal seconds, not
// longer than the usual, and leaving at least ten seconds before the set falls due) when it is
// given and valid. Only test builds
// pass an override (tests make a set that falls due within seconds).
std::int64_t SetLifetimeSeconds(const char* overrideText);

}  // namespace qardex::keymint
