#include "checkup/finding.h"

#include <algorithm>
#include <cstdio>

namespace qardex::checkup {

namespace {

const char* LevelName(Level level) {
  switch (level) {
    case Level::kPass:
      return "PASS";
    case Level::kWarn:
      return "WARN";
    case Level::kFail:
      return "FAIL";
  }
  return "FAIL";
}

// A JSON string of ASCII text; other bytes and controls as \u00XX.
void AppendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte > 0x7e) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
}

std::size_t CountOf(const Findings& findings, Level level) {
  return static_cast<std::size_t>(std::count_if(
      findings.begin(), findings.end(), [level](const Finding& f) { return f.level == level; }));
}

}  // namespace

std::string ReportText(const Findings& findings) {
  std::string out;
  for (const Finding& finding : findings) {
    out += LevelName(finding.level);
    out += ' ' + finding.code + ' ' + finding.advice + '\n';
  }
  return out;
}

std::string ReportJson(const Findings& findings) {
  std::string out = "{\"checks\":[";
  for (std::size_t i = 0; i < findings.size(); ++i) {
    if (i > 0) out += ',';
    out += "{\"level\":\"";
    out += LevelName(findings[i].level);
    out += "\",\"code\":";
    AppendJsonString(out, findings[i].code);
    out += ",\"advice\":";
    AppendJsonString(out, findings[i].advice);
    out += '}';
  }
  out += "],\"failed\":" + std::to_string(CountOf(findings, Level::kFail)) +
         ",\"warned\":" + std::to_string(CountOf(findings, Level::kWarn)) + "}\n";
  return out;
}

int ReportExitCode(const Findings& findings) {
  return CountOf(findings, Level::kFail) == 0 ? 0 : 1;
}

}  // namespace qardex::checkup
