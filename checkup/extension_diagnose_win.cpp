// The extension's checks on their own, apart from diagnose_win.cpp, so that QARDEXHost.exe links
// these and not the service's checks.
#include <cstdio>

#include "checkup/diagnose_win.h"
#include "checkup/extension_probes_win.h"
#include "checkup/extension_verdicts.h"

namespace qardex::checkup {

Findings ExtensionChecks() { return JudgeExtension(ProbeExtension(), FileIsThere); }

int RunExtensionDiagnose(bool json) {
  const Findings report = ExtensionChecks();
  std::fputs((json ? ReportJson(report) : ReportText(report)).c_str(), stdout);
  std::fflush(stdout);
  return ReportExitCode(report);
}

}  // namespace qardex::checkup
