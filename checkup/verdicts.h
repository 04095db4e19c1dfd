// The set-up check's decisions: what the observed facts of each area mean and what to do about
// them. Pure; the Windows probes gather the facts. A check whose premise failed (no key, no
// reader) is left out, so that one broken condition gives one FAIL or WARN.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "checkup/card_facts.h"
#include "checkup/finding.h"
#include "checkup/network_verdicts.h"
#include "keymint/certificate_facts.h"
#include "keymint/renewal_plan.h"

namespace qardex::checkup {

using keymint::CertificateFacts;
using keymint::ExamineCertificates;

// The hosts file's text; nullopt when it cannot be read.
Findings JudgeHosts(const std::optional<std::string>& hostsText, const std::string& host);

// `rootCopies`: how often the file's root is in the machine's root store (nullopt: the store
// cannot be read). `renewal`: the note the service left when it last failed to renew the set;
// it counts only while the set it was to replace is still in place.
Findings JudgeCertificates(const CertificateFacts& facts, std::optional<int> rootCopies,
                           const std::optional<keymint::RenewalFailure>& renewal = std::nullopt);

struct ServiceFacts {
  bool installed = false;
  bool running = false;
  std::uint32_t processId = 0;  // of the running service
  // The process that listens on the service's port: nullopt when nothing does, 0 when the
  // system does not say which.
  std::optional<std::uint32_t> listener;
};
Findings JudgeService(const ServiceFacts& facts);

// The service's event source in the Application log: whether its key exists, and its
// EventMessageFile with environment variables expanded (files separated by ';').
struct EventSourceFacts {
  bool registered = false;
  std::string messageFiles;
};
// EVENT_SOURCE: a WARN, for the events are written all the same, only without their texts.
Findings JudgeEventSource(const EventSourceFacts& facts, const FileExists& exists);

struct PolicyFacts {
  std::vector<std::string> chromeOrigins;  // the values of the browser's allow list
  std::vector<std::string> edgeOrigins;
  std::vector<std::string> firefoxInstalls;  // the certificate files Firefox installs
  std::string expectedFirefoxRoot;           // our root's file, as FoxTrust.cmd lists it
  std::vector<std::string> expectedOrigins;  // what FoxTrust.cmd puts there
  // The loopback allow lists (version 146 and later), which FoxTrust.cmd fills alike.
  std::vector<std::string> chromeLoopbackOrigins;
  std::vector<std::string> edgeLoopbackOrigins;
  // The blocked lists, and the approved sites they must not name (JudgeBlockedLists).
  std::vector<BlockedList> blocked;
  std::vector<std::string> approvedSites;
};
// POLICY_CHROME, POLICY_EDGE, POLICY_FIREFOX, POLICY_BLOCKED.
Findings JudgePolicies(const PolicyFacts& facts);

Findings JudgeLogFolder(bool writable, const std::string& folder);

Findings JudgeCards(const CardFacts& facts);

// ServiceStatus's answer: 0, 4061, or the network stack's number.
Findings JudgeServer(std::int32_t status);

}  // namespace qardex::checkup
