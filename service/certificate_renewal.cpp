#include "service/certificate_renewal.h"

#include <utility>

namespace qardex::service {

CertificateRenewal::CertificateRenewal(RenewalSteps steps, ServiceLog& log)
    : steps_(std::move(steps)), log_(log) {}

std::int64_t CertificateRenewal::Round() {
  const std::time_t now = steps_.now();
  const keymint::CertificateFacts facts = steps_.examine(now);
  const keymint::RenewalPlan plan = keymint::PlanRenewal(facts);
  if (plan.condition == keymint::SetCondition::kUsable) return plan.secondsUntilDue;

  log_.Write(std::string("certificate renewal: ") + plan.reason);
  std::string why;
  try {
    why = steps_.renew();
  } catch (const std::exception& failure) {
    why = failure.what();
  }
  if (!why.empty()) return Failed(now, facts.rootSerial, why);
  // What is in place now must be the new set, or the next round would renew again at once.
  const keymint::CertificateFacts renewed = steps_.examine(steps_.now());
  const keymint::RenewalPlan next = keymint::PlanRenewal(renewed);
  if (next.condition != keymint::SetCondition::kUsable) {
    return Failed(now, facts.rootSerial, std::string("the new set is not usable: ") + next.reason);
  }
  failures_ = 0;
  steps_.note(nullptr);
  log_.Write(LogEvent::kRenewed, "certificate renewed: root " + renewed.rootSerial +
                                     ", valid for " + std::to_string(*renewed.daysLeft) + " days");
  return next.secondsUntilDue;
}

std::int64_t CertificateRenewal::Failed(std::time_t now, const std::string& serial,
                                        const std::string& why) {
  const std::int64_t delay = keymint::RetryDelaySeconds(++failures_);
  const keymint::RenewalFailure failure{now, now + delay, serial, why};
  steps_.note(&failure);
  log_.Write(LogEvent::kRenewalFailed, "certificate renewal failed: " + why + "; next attempt in " +
                                           std::to_string(delay) + " s");
  return delay;
}

}  // namespace qardex::service
