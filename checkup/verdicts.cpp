#include "checkup/verdicts.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "common/error_codes.h"
#include "keymint/certificate_set.h"
#include "qardex_constants.h"
#include "setup/hosts_rewrite.h"
#include "setup/install_layout.h"

namespace qardex::checkup {

namespace {

const std::string kRerunSetup = "run cardsetup.exe again as an administrator";

Finding Pass(const char* code, std::string advice) {
  return {Level::kPass, code, std::move(advice)};
}
Finding Warn(const char* code, std::string advice) {
  return {Level::kWarn, code, std::move(advice)};
}
Finding Fail(const char* code, std::string advice) {
  return {Level::kFail, code, std::move(advice)};
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

std::string PortText() { return std::to_string(build::kLocalServicePort); }

// The lines of `text` without their line ends.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

// The browser's two allow lists: the first that lacks an expected origin is named.
Finding JudgeAllowList(const char* code, const char* browser,
                       const std::vector<std::string>& present,
                       const std::vector<std::string>& presentLoopback,
                       const std::vector<std::string>& expected) {
  const struct {
    const char* policy;
    const std::vector<std::string>& values;
  } lists[] = {{"LocalNetworkAccessAllowedForUrls", present},
               {"LoopbackNetworkAllowedForUrls", presentLoopback}};
  for (const auto& list : lists) {
    std::string missing;
    for (const std::string& origin : expected) {
      if (std::find(list.values.begin(), list.values.end(), origin) != list.values.end()) continue;
      missing += (missing.empty() ? "" : ", ") + origin;
    }
    if (!missing.empty()) {
      return Warn(code, std::string(browser) + "'s policy " + list.policy + " lacks " + missing +
                            ": run FoxTrust.cmd as an administrator.");
    }
  }
  return Pass(code, std::string(browser) + " lets the approved sites reach the local service.");
}

// The running service renews the set inside its renewal window; a failure it noted for the set
// in place says why it has not.
Finding JudgeExpiry(const CertificateFacts& facts,
                    const std::optional<keymint::RenewalFailure>& renewal) {
  const bool failed = renewal && renewal->rootSerial == facts.rootSerial;
  const std::string why =
      failed ? "the service could not renew it (" + renewal->reason + ", " +
                   keymint::UtcStamp(static_cast<std::time_t>(renewal->failedAt)) +
                   ") and tries again at " +
                   keymint::UtcStamp(static_cast<std::time_t>(renewal->nextTryAt)) +
                   "; see the service's log, or " + kRerunSetup
             : std::string();
  if (!facts.daysLeft || *facts.daysLeft < 0) {
    return Fail("CERT_EXPIRY",
                "The server certificate has expired: " +
                    (failed ? why
                            : "restart the service " + std::string(setup::kServiceName) +
                                  ", which renews it, or " + kRerunSetup) +
                    ".");
  }
  const std::string days = std::to_string(*facts.daysLeft);
  if (failed) {
    return Warn("CERT_EXPIRY", "The server certificate expires in " + days + " days: " + why + ".");
  }
  if (*facts.secondsLeft <= keymint::kRenewBeforeSeconds) {
    return Warn("CERT_EXPIRY", "The server certificate expires in " + days +
                                   " days and the service has not renewed it yet: start the "
                                   "service " +
                                   setup::kServiceName + ", or " + kRerunSetup + ".");
  }
  return Pass("CERT_EXPIRY", "The server certificate is valid for " + days +
                                 " more days; the service renews it 30 days before its end.");
}

}  // namespace

Findings JudgeHosts(const std::optional<std::string>& hostsText, const std::string& host) {
  if (!hostsText) {
    return {Fail("HOSTS",
                 "The hosts file cannot be read: check that it exists, then " + kRerunSetup + ".")};
  }
  bool ours = false;
  bool other = false;
  for (const std::string_view line : Lines(*hostsText)) {
    switch (setup::ClassifyHostsLine(line, host)) {
      case setup::HostsLine::kOurEntry:
        ours = true;
        break;
      case setup::HostsLine::kOtherMapping:
        other = true;
        break;
      case setup::HostsLine::kUnrelated:
        break;
    }
  }
  if (other) {
    return {Fail("HOSTS", "The hosts file maps " + host +
                              " to another address: remove that line, then " + kRerunSetup + ".")};
  }
  if (!ours) {
    return {Fail("HOSTS",
                 "The hosts file does not map " + host + " to 127.0.0.1: " + kRerunSetup + ".")};
  }
  return {Pass("HOSTS", "The hosts file maps " + host + " to 127.0.0.1.")};
}

Findings JudgeCertificates(const CertificateFacts& facts, std::optional<int> rootCopies,
                           const std::optional<keymint::RenewalFailure>& renewal) {
  const std::string files =
      std::string(keymint::kServerCertificateFile) + " and " + keymint::kServerKeyFile;
  if (!facts.certificatesRead || !facts.keyRead) {
    return {Fail("CERT_FILES", files + " beside " + setup::kServiceProgram +
                                   " are missing or unreadable: " + kRerunSetup + ".")};
  }
  Findings findings{Pass("CERT_FILES", files + " are in place.")};
  if (!facts.keyMatches) {
    findings.push_back(Fail("CERT_KEY", std::string(keymint::kServerCertificateFile) +
                                            " holds no certificate for the key in " +
                                            keymint::kServerKeyFile + ": " + kRerunSetup + "."));
  } else {
    findings.push_back(Pass("CERT_KEY", "The server certificate matches its key."));
    findings.push_back(JudgeExpiry(facts, renewal));
    findings.push_back(facts.chainsToRoot
                           ? Pass("CERT_CHAIN", "The server certificate chains to our root.")
                           : Fail("CERT_CHAIN",
                                  "The server certificate is not signed by the root "
                                  "that comes first in " +
                                      std::string(keymint::kServerCertificateFile) + ": " +
                                      kRerunSetup + "."));
  }
  if (!rootCopies) {
    findings.push_back(Warn("ROOT_STORE", "The machine's trusted root store cannot be read."));
  } else if (*rootCopies == 0) {
    findings.push_back(Fail("ROOT_STORE",
                            "Our root is not in the machine's trusted root store, so browsers "
                            "refuse the service: " +
                                kRerunSetup + "."));
  } else if (*rootCopies > 1) {
    findings.push_back(Warn("ROOT_STORE", "Our root is " + std::to_string(*rootCopies) +
                                              " times in the machine's trusted root store: "
                                              "remove the extra copies."));
  } else {
    findings.push_back(Pass("ROOT_STORE", "Our root is in the machine's trusted root store."));
  }
  return findings;
}

Findings JudgeService(const ServiceFacts& facts) {
  const std::string service = std::string("The service ") + setup::kServiceName;
  const std::string port = "port " + PortText();
  if (!facts.installed) {
    return {Fail("SERVICE", service + " is not installed: " + kRerunSetup + ".")};
  }
  if (!facts.running) {
    Findings findings{Fail("SERVICE", service + " is not running: start it (sc start " +
                                          setup::kServiceName + ") or restart the computer.")};
    if (facts.listener) {
      findings.push_back(Fail(
          "PORT", "Another program" +
                      (*facts.listener != 0 ? " (process " + std::to_string(*facts.listener) + ")"
                                            : std::string()) +
                      " listens on " + port + ": end it, then start the service."));
    }
    return findings;
  }
  Findings findings{Pass("SERVICE", service + " is running.")};
  if (!facts.listener) {
    findings.push_back(Fail("PORT", service + " runs but nothing listens on " + port +
                                        ": see the service's log and restart it."));
  } else if (*facts.listener != 0 && *facts.listener != facts.processId) {
    findings.push_back(Fail("PORT", "Process " + std::to_string(*facts.listener) +
                                        ", not the service, listens on " + port +
                                        ": end it, then restart the service."));
  } else {
    findings.push_back(Pass("PORT", service + " listens on " + port + "."));
  }
  return findings;
}

Findings JudgeEventSource(const EventSourceFacts& facts, const FileExists& exists) {
  const std::string source = std::string("The event source ") + setup::kServiceName;
  const std::string effect =
      "Event Viewer shows the events of the service and the extension's host without their "
      "texts";
  if (!facts.registered) {
    return {Warn("EVENT_SOURCE", source + " is not registered: " + effect +
                                     " (the service's file log has them whole); " + kRerunSetup +
                                     ".")};
  }
  std::string missing;
  std::string_view rest = facts.messageFiles;
  do {
    const std::size_t end = rest.find(';');
    const std::string file(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (file.empty()) {
      missing = "no message file";
    } else if (!exists(file)) {
      missing = file + ", which does not exist";
    }
  } while (missing.empty() && !rest.empty());
  if (!missing.empty()) {
    return {Warn("EVENT_SOURCE",
                 source + " names " + missing + ": " + effect + "; " + kRerunSetup + ".")};
  }
  return {Pass("EVENT_SOURCE", source + " finds the events' texts in " + facts.messageFiles + ".")};
}

Findings JudgePolicies(const PolicyFacts& facts) {
  Findings findings{JudgeAllowList("POLICY_CHROME", "Chrome", facts.chromeOrigins,
                                   facts.chromeLoopbackOrigins, facts.expectedOrigins),
                    JudgeAllowList("POLICY_EDGE", "Edge", facts.edgeOrigins,
                                   facts.edgeLoopbackOrigins, facts.expectedOrigins)};
  const auto ours = [&facts](const std::string& file) {
    return !facts.expectedFirefoxRoot.empty() && file.size() == facts.expectedFirefoxRoot.size() &&
           std::equal(file.begin(), file.end(), facts.expectedFirefoxRoot.begin(),
                      [](char a, char b) {
                        return std::tolower(static_cast<unsigned char>(a)) ==
                               std::tolower(static_cast<unsigned char>(b));
                      });
  };
  findings.push_back(std::any_of(facts.firefoxInstalls.begin(), facts.firefoxInstalls.end(), ours)
                         ? Pass("POLICY_FIREFOX", "Firefox installs our root.")
                         : Warn("POLICY_FIREFOX",
                                "Firefox does not install our root (policy Certificates\\Install "
                                "lacks " +
                                    facts.expectedFirefoxRoot +
                                    "): run FoxTrust.cmd as an administrator."));
  const Findings blocked = JudgeBlockedLists(facts.blocked, facts.approvedSites);
  findings.insert(findings.end(), blocked.begin(), blocked.end());
  return findings;
}

Findings JudgeLogFolder(bool writable, const std::string& folder) {
  if (writable) return {Pass("DAILY_LOG", "The daily log folder " + folder + " is writable.")};
  return {Fail("DAILY_LOG", "The daily log folder " + (folder.empty() ? "(unknown)" : folder) +
                                " cannot be written: check the TEMP variable and the folder's "
                                "permissions.")};
}

Findings JudgeCards(const CardFacts& facts) {
  if (!facts.contextEstablished) {
    return {Fail("SMARTCARD_SERVICE", "The smart-card service does not answer (" +
                                          Hex(static_cast<std::uint32_t>(facts.status)) +
                                          "): connect a reader or start the service "
                                          "\"Smart Card\".")};
  }
  Findings findings{Pass("SMARTCARD_SERVICE", "The smart-card service answers.")};
  if (facts.status != card::kPcscSuccess || facts.readers == 0) {
    findings.push_back(Fail("READERS", "No card reader is connected: connect one."));
    return findings;
  }
  findings.push_back(Pass("READERS", std::to_string(facts.readers) +
                                         (facts.readers == 1 ? " reader is" : " readers are") +
                                         " connected."));
  if (facts.cardsPresent == 0) {
    findings.push_back(Fail("CARD", "No card is in a reader: insert the HC card."));
  } else if (facts.hcReader < 0) {
    findings.push_back(
        Fail("CARD", "The card in the reader is not an HC card: insert the HC card."));
  } else {
    findings.push_back(
        Pass("CARD", "An HC card is in reader " + std::to_string(facts.hcReader) + "."));
  }
  return findings;
}

Findings JudgeServer(std::int32_t status) {
  const std::string server = std::string(build::kAuthServerHost) + ":443";
  if (status == 0)
    return {Pass("AUTH_SERVER", "The authentication server " + server + " answers.")};
  if (status == common::kServerUnreachable) {
    return {Fail("AUTH_SERVER", "The authentication server " + server +
                                    " cannot be reached, directly or through the proxy: check "
                                    "the network and the proxy settings.")};
  }
  return {Fail("AUTH_SERVER", "The network cannot be used (error " + std::to_string(status) +
                                  "): check the network settings.")};
}

}  // namespace qardex::checkup
