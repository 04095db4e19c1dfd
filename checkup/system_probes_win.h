// The Windows side of the set-up check: each probe reads one part of the machine and reports it
// as the facts the verdicts judge. None changes anything, except a file that the log-folder probe
// creates and deletes again.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "checkup/verdicts.h"

namespace qardex::checkup {

std::optional<std::string> ReadHostsFile();

// The two certificate files beside the running program, examined now.
CertificateFacts ProbeCertificateFiles();

// The note of the service's last failed renewal, when there is one.
std::optional<keymint::RenewalFailure> ProbeRenewalNote();

// Copies of `der` in the local machine's "Root" store; nullopt when it cannot be opened.
std::optional<int> ProbeRootStoreCopies(const std::vector<std::uint8_t>& der);

ServiceFacts ProbeService();

// The service's event source: its key and the message files it names.
EventSourceFacts ProbeEventSource();

PolicyFacts ProbePolicies();

// Which proxy WinHTTP names, for the user who runs the check, for the service's own name (what
// the browsers on this desktop are configured with; the time limit of the authentication
// server's look-up).
ProxyFacts ProbeProxy();

// The daily log's folder (the user's temporary folder) and whether a file can be made there.
struct LogFolderFacts {
  std::string folder;
  bool writable = false;
};
LogFolderFacts ProbeLogFolder();

}  // namespace qardex::checkup
