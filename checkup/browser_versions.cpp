#include "checkup/browser_versions.h"

#include <algorithm>

#include "common/text_conversion.h"

namespace qardex::checkup {

namespace {

// How a DisplayName names a browser: exactly, or (Firefox's, which hold their architecture and
// language, and earlier their version: "Mozilla Firefox 115.6.0 ESR (x64 en-US)") as its first
// words, with or without the word ESR.
enum class Naming { kExactly, kFirstWords, kFirstWordsAndEsr };

constexpr struct {
  const char* browser;
  const char* name;
  Naming naming;
} kBrowsers[] = {
    {"Chrome", "Google Chrome", Naming::kExactly},
    {"Edge", "Microsoft Edge", Naming::kExactly},
    {"Chromium", "Chromium", Naming::kExactly},
    {"Firefox", "Mozilla Firefox", Naming::kFirstWords},
    {"Firefox ESR", "Mozilla Firefox", Naming::kFirstWordsAndEsr},
};

bool IsEsr(std::string_view lowerName) {
  const std::size_t at = lowerName.find(" esr");
  return at != std::string_view::npos && (at + 4 == lowerName.size() || lowerName[at + 4] == ' ');
}

const char* PlaceName(ProgramPlace place) {
  switch (place) {
    case ProgramPlace::kMachine:
      return "this machine";
    case ProgramPlace::kMachine32:
      return "this machine, 32-bit view";
    case ProgramPlace::kUser:
      return "this user";
  }
  return "";
}

bool SameMachineEntry(const InstalledProgram& a, const InstalledProgram& b) {
  return a.place == ProgramPlace::kMachine && b.place == ProgramPlace::kMachine32 &&
         a.name == b.name && a.version == b.version;
}

}  // namespace

std::optional<std::string> BrowserOf(std::string_view displayName) {
  const std::string name = common::AsciiLower(displayName);
  for (const auto& browser : kBrowsers) {
    const std::string known = common::AsciiLower(browser.name);
    const bool named = browser.naming == Naming::kExactly
                           ? name == known
                           : name.compare(0, known.size(), known) == 0 &&
                                 (name.size() == known.size() || name[known.size()] == ' ') &&
                                 IsEsr(name) == (browser.naming == Naming::kFirstWordsAndEsr);
    if (named) return std::string(browser.browser);
  }
  return std::nullopt;
}

std::string BrowserVersionsText(const std::vector<InstalledProgram>& programs) {
  std::string text;
  for (const auto& browser : kBrowsers) {
    std::vector<std::string> lines;
    for (const InstalledProgram& program : programs) {
      if (BrowserOf(program.name) != browser.browser) continue;
      const auto repeated = [&program](const InstalledProgram& other) {
        return SameMachineEntry(other, program);
      };
      if (std::any_of(programs.begin(), programs.end(), repeated)) continue;
      lines.push_back(std::string(browser.browser) + ": " +
                      (program.version.empty() ? "(no version)" : program.version) + " (" +
                      program.name + ", " + PlaceName(program.place) + ")\r\n");
    }
    if (lines.empty()) lines.push_back(std::string(browser.browser) + ": not installed\r\n");
    for (const std::string& line : lines) text += line;
  }
  return text;
}

}  // namespace qardex::checkup
