#include "checkup/diagnose_win.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <functional>

#include "card/pcsc_api.h"
#include "checkup/extension_probes_win.h"
#include "checkup/system_probes_win.h"
#include "engine/session.h"
#include "engine/system_platform.h"
#include "qardex_constants.h"

namespace qardex::checkup {

namespace {

// The connection to the server prints the proxy it found on standard output, as the control
// always has; the report keeps standard output to itself while it runs.
class QuietStandardOutput {
 public:
  QuietStandardOutput() {
    std::fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    const int nul = _open("NUL", _O_WRONLY);
    if (saved_ >= 0 && nul >= 0) _dup2(nul, _fileno(stdout));
    if (nul >= 0) _close(nul);
  }
  ~QuietStandardOutput() {
    std::fflush(stdout);
    if (saved_ < 0) return;
    _dup2(saved_, _fileno(stdout));
    _close(saved_);
  }
  QuietStandardOutput(const QuietStandardOutput&) = delete;
  QuietStandardOutput& operator=(const QuietStandardOutput&) = delete;

 private:
  int saved_ = -1;
};

std::int32_t ServerStatus() {
  const QuietStandardOutput quiet;
  engine::Session session(engine::SystemPlatform());
  return session.ServiceStatus();
}

}  // namespace

Findings RunChecks(const std::function<void(const Findings&)>& progress) {
  Findings report;
  const auto add = [&](Findings findings) {
    progress(findings);
    report.insert(report.end(), findings.begin(), findings.end());
  };
  add(JudgeHosts(ReadHostsFile(), build::kLocalServiceHost));
  const CertificateFacts certificates = ProbeCertificateFiles();
  add(JudgeCertificates(certificates, ProbeRootStoreCopies(certificates.rootDer),
                        ProbeRenewalNote()));
  add(JudgeService(ProbeService()));
  add(JudgeEventSource(ProbeEventSource(), FileIsThere));
  add(JudgePolicies(ProbePolicies()));
  add(JudgeProxy(ProbeProxy()));
  add(ExtensionChecks());
  const LogFolderFacts log = ProbeLogFolder();
  add(JudgeLogFolder(log.writable, log.folder));
  add(JudgeCards(ExamineCards(card::SystemPcsc())));
  add(JudgeServer(ServerStatus()));
  return report;
}

int RunDiagnose(bool json) {
  const Findings report = RunChecks([json](const Findings& findings) {
    if (json) return;
    std::fputs(ReportText(findings).c_str(), stdout);
    std::fflush(stdout);
  });
  if (json) std::fputs(ReportJson(report).c_str(), stdout);
  return ReportExitCode(report);
}

}  // namespace qardex::checkup
