// The certificate set beside the service's program: read, examined, renewed as the installer
// makes and places one, and the rounds of its renewal on a thread of their own.
#pragma once

#include <atomic>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "keymint/certificate_facts.h"
#include "keymint/renewal_plan.h"
#include "protocol/service_log.h"
#include "https/tls_credentials.h"
#include "service/certificate_renewal.h"

namespace qardex::service {

struct SetFile {
  std::optional<std::string> text;
  std::string error;  // why there is none, for the operator
};
// One file of the set, at most a size no certificate or key file comes near.
SetFile ReadSetFile(const std::filesystem::path& path);

keymint::CertificateFacts ExamineSetIn(const std::filesystem::path& folder, std::time_t now);

// Switches the listener to a new set (its certificate file's and key file's texts); empty when
// done, else why not.
using UseSet = std::function<std::string(const std::string& certificates, const std::string& key)>;

// Makes a new set as KeyMint.exe does and puts it in place as cardsetup.exe does: the root into
// the machine's trusted roots first, then the files as a whole (the key readable by SYSTEM and
// Administrators only, the root's copy for the browsers named by its serial number), then the
// listener switched by `use`; only then are the earlier roots deleted from the store, and
// FoxTrust.cmd names the new copy in Firefox's list (unless the browsers' policies are left to
// group policy). Empty when done, else why not; the set in place before stays in place and in
// use then.
std::string RenewSetIn(const std::filesystem::path& folder, const UseSet& use, ServiceLog& log,
                       bool browserPolicies);

// Writes the note of a failed renewal beside the set, or deletes it (nullptr).
void KeepRenewalNote(const std::filesystem::path& folder, const keymint::RenewalFailure* failure);

// The service's set: its renewal, and the listener it switches to each new set.
class ServiceCertificates {
 public:
  // `browserPolicies` false: renewals never run FoxTrust.cmd.
  ServiceCertificates(std::filesystem::path folder, ServiceLog& log, bool browserPolicies);
  ServiceCertificates(const ServiceCertificates&) = delete;
  ServiceCertificates& operator=(const ServiceCertificates&) = delete;

  // Before the service listens: a set that cannot serve is renewed (one attempt); one that
  // merely falls due soon is renewed on the rounds, while it serves.
  void RenewWhenUnusable();
  // From now on renewals switch `listener`, which outlives the rounds.
  void Switching(CurrentTls& listener) { listener_ = &listener; }
  CertificateRenewal& Renewal() { return renewal_; }

 private:
  std::string Use(const std::string& certificates, const std::string& key);

  const std::filesystem::path folder_;
  std::atomic<CurrentTls*> listener_{nullptr};
  CertificateRenewal renewal_;
};

// The rounds of a renewal on a thread of their own, each when the one before says (at least
// once an hour, so that a changed clock or set is seen), until the object goes.
class RenewalThread {
 public:
  explicit RenewalThread(CertificateRenewal& renewal);
  RenewalThread(const RenewalThread&) = delete;
  RenewalThread& operator=(const RenewalThread&) = delete;
  ~RenewalThread();

 private:
  void Run(CertificateRenewal& renewal);

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qardex::service
