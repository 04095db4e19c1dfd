// One line of the set-up check: a level, a short code that names the check, and a sentence of
// what to do. The report is the lines in the order the checks ran.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qardex::checkup {

enum class Level { kPass, kWarn, kFail };

struct Finding {
  Level level = Level::kPass;
  std::string code;    // upper-case letters and '_', the same for every outcome of one check
  std::string advice;  // one sentence, ASCII
};

using Findings = std::vector<Finding>;

// Whether a file exists, for the verdicts that judge where a setting points.
using FileExists = std::function<bool(const std::string& path)>;

// "PASS CODE advice" lines, each ending in a line feed.
std::string ReportText(const Findings& findings);
// {"checks":[{"level":"PASS","code":"...","advice":"..."},...],"failed":N,"warned":N}
std::string ReportJson(const Findings& findings);
// 0 when no check failed, 1 otherwise.
int ReportExitCode(const Findings& findings);

}  // namespace qardex::checkup
