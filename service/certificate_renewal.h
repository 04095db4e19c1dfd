// The service's renewal of its own certificate set: one round looks at the set in place and,
// when it is due or unusable, has a new one made and put in place; a failure is logged, noted
// for the set-up check and retried later, ever more patiently, while the current set stays in
// use. The steps that touch the machine and the clock are given to it, so that the rounds run
// natively in tests.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "keymint/certificate_facts.h"
#include "keymint/renewal_plan.h"
#include "protocol/service_log.h"

namespace qardex::service {

struct RenewalSteps {
  // The set in place, examined at that moment.
  std::function<keymint::CertificateFacts(std::time_t now)> examine;
  // Makes a new set and puts it in place (files, trust, the listener); empty when done, else
  // why not, in a few words.
  std::function<std::string()> renew;
  // Keeps the note of a failed attempt for the set-up check, or (nullptr) drops it.
  std::function<void(const keymint::RenewalFailure* failure)> note;
  // Seconds since 1970, UTC.
  std::function<std::time_t()> now;
};

class CertificateRenewal {
 public:
  CertificateRenewal(RenewalSteps steps, ServiceLog& log);

  // One round; returns the seconds until the next one is due.
  std::int64_t Round();

 private:
  std::int64_t Failed(std::time_t now, const std::string& serial, const std::string& why);

  RenewalSteps steps_;
  ServiceLog& log_;
  int failures_ = 0;  // in a row
};

}  // namespace qardex::service
