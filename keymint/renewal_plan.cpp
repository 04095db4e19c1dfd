#include "keymint/renewal_plan.h"

#include <cstdlib>

#include "keymint/local_root.h"

namespace qardex::keymint {

namespace {

constexpr std::int64_t kFirstRetrySeconds = 60;
constexpr std::int64_t kLongestRetrySeconds = 6 * 60 * 60;
// A set of a shorter lifetime would be due as soon as it is made (its period begins an hour
// back): at least ten seconds before its renewal window.
constexpr std::int64_t kShortestLifetimeSeconds = kRenewBeforeSeconds + 60 * 60 + 10;
constexpr char kFailedWord[] = "failed";

// A decimal number of at most 18 digits (no sign, no blanks), or nothing.
std::optional<std::int64_t> Decimal(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The next word of `text` (up to a blank), taken off its front.
std::string_view TakeWord(std::string_view& text) {
  const std::size_t end = text.find(' ');
  const std::string_view word = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  return word;
}

bool IsHex(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

}  // namespace

RenewalPlan PlanRenewal(const CertificateFacts& facts) {
  if (!facts.certificatesRead || !facts.keyRead) {
    return {SetCondition::kUnusable, 0, "the certificate or key file is missing or unreadable"};
  }
  if (!facts.keyMatches) return {SetCondition::kUnusable, 0, "no certificate matches the key"};
  if (!facts.secondsLeft || *facts.secondsLeft <= 0) {
    return {SetCondition::kUnusable, 0, "the server certificate has expired"};
  }
  if (*facts.secondsLeft <= kRenewBeforeSeconds) {
    return {SetCondition::kDue, 0, "the server certificate expires within 30 days"};
  }
  return {SetCondition::kUsable, *facts.secondsLeft - kRenewBeforeSeconds, ""};
}

std::int64_t RetryDelaySeconds(int failures) {
  std::int64_t delay = kFirstRetrySeconds;
  for (int i = 1; i < failures && delay < kLongestRetrySeconds; ++i) delay *= 2;
  return delay < kLongestRetrySeconds ? delay : kLongestRetrySeconds;
}

std::string FormatRenewalFailure(const RenewalFailure& failure) {
  std::string reason;
  for (const char c : failure.reason) reason += (c == '\r' || c == '\n') ? ' ' : c;
  return std::string(kFailedWord) + ' ' + std::to_string(failure.failedAt) + ' ' +
         std::to_string(failure.nextTryAt) + ' ' + failure.rootSerial + ' ' + reason + '\n';
}

std::optional<RenewalFailure> ParseRenewalFailure(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (text.find('\n') != std::string_view::npos || TakeWord(text) != kFailedWord) {
    return std::nullopt;
  }
  const std::optional<std::int64_t> failedAt = Decimal(TakeWord(text));
  const std::optional<std::int64_t> nextTryAt = Decimal(TakeWord(text));
  const std::string_view serial = TakeWord(text);
  if (!failedAt || !nextTryAt || !IsHex(serial)) return std::nullopt;
  return RenewalFailure{*failedAt, *nextTryAt, std::string(serial), std::string(text)};
}

std::int64_t SetLifetimeSeconds(const char* overrideText) {
  const std::optional<std::int64_t> given =
      overrideText != nullptr ? Decimal(overrideText) : std::nullopt;
  if (!given || *given < kShortestLifetimeSeconds || *given > kUsualLifetimeSeconds) {
    return kUsualLifetimeSeconds;
  }
  return *given;
}

}  // namespace qardex::keymint
