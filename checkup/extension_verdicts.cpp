#include "checkup/extension_verdicts.h"

#include <algorithm>
#include <cctype>

#include "checkup/json_members.h"
#include "messaging/extension_policies.h"
#include "qardex_extension.h"

namespace qardex::checkup {

namespace {

using messaging::BrowserFamily;

const std::string kRegisterUser =
    "run QARDEXHost.exe --register-user from the folder that holds it";
const std::string kRepairPackage = "repair the QARDEX package (msiexec /fa with its .msi)";

std::string Code(const char* prefix, const std::string& browser) {
  std::string code = prefix;
  for (const char c : browser)
    code += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return code;
}

bool Absolute(const std::string& path) {
  return (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
          (path[2] == '\\' || path[2] == '/')) ||
         (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

// The program a manifest names: its `path`, relative to the manifest's folder unless absolute.
std::string ProgramOf(const std::string& manifest, const std::string& path) {
  if (Absolute(path)) return path;
  const std::size_t slash = manifest.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : manifest.substr(0, slash + 1)) + path;
}

bool Lists(const TextMembers& members, const char* list, const std::string& wanted) {
  const auto found = members.lists.find(list);
  return found != members.lists.end() &&
         std::find(found->second.begin(), found->second.end(), wanted) != found->second.end();
}

// What keeps the browser from starting the host through this registration; "" when nothing.
std::string PlaceProblem(const HostPlace& place, BrowserFamily family, const FileExists& exists) {
  const std::string& manifest = place.manifest;
  if (!place.manifestText) return "names " + manifest + ", which is missing or cannot be read";
  const std::optional<TextMembers> members = ReadTextMembers(*place.manifestText);
  const auto text = [&](const char* name) {
    const auto found = members->strings.find(name);
    return found == members->strings.end() ? std::string() : found->second;
  };
  if (!members || text("name") != build::kNativeHostName || text("type") != "stdio") {
    return "names " + manifest + ", which is not the manifest of " + build::kNativeHostName;
  }
  const bool ours = family == BrowserFamily::Firefox
                        ? Lists(*members, "allowed_extensions", build::kFirefoxExtensionId)
                        : Lists(*members, "allowed_origins", build::kChromiumExtensionOrigin);
  if (!ours)
    return "names " + manifest + ", which does not let the QARDEX extension start the host";
  if (text("path").empty()) return "names " + manifest + ", which names no program";
  const std::string program = ProgramOf(manifest, text("path"));
  if (!exists(program)) return "names " + manifest + ", whose program " + program + " is missing";
  return "";
}

Finding JudgeHost(const BrowserExtensionFacts& facts, bool forced, const FileExists& exists) {
  const std::string code = Code("HOST_", facts.browser);
  const std::string& browser = facts.browser;
  const std::string userProblem =
      facts.user ? PlaceProblem(*facts.user, facts.family, exists) : std::string();
  const std::string machineProblem =
      facts.machine ? PlaceProblem(*facts.machine, facts.family, exists) : std::string();
  if (!facts.user && !facts.machine) {
    if (forced) {
      return {Level::kFail, code,
              browser +
                  " force-installs the QARDEX extension, but the host is not registered "
                  "for it: install the QARDEX package, or " +
                  kRegisterUser + "."};
    }
    return {Level::kPass, code,
            "The host is not registered for " + browser +
                ", so the QARDEX extension cannot reach the card there (pages use the local "
                "service): to use it, install the QARDEX package or " +
                kRegisterUser + "."};
  }
  // The browser reads the user's registration first and the machine's only when there is none.
  if (facts.user && !userProblem.empty()) {
    return {Level::kFail, code,
            browser + "'s registration of the host for this user " + userProblem + ": " +
                kRegisterUser +
                (facts.machine ? ", or run QARDEXHost.exe --unregister-user to "
                                 "use the machine's registration"
                               : std::string()) +
                "."};
  }
  if (!facts.user && !machineProblem.empty()) {
    return {Level::kFail, code,
            browser + "'s registration of the host for every user " + machineProblem + ": " +
                kRepairPackage + "."};
  }
  if (facts.machine && !machineProblem.empty()) {
    return {Level::kWarn, code,
            browser + " finds the host for this user (" + facts.user->manifest +
                "), but its registration for every user " + machineProblem + ": " + kRepairPackage +
                "."};
  }
  const HostPlace& used = facts.user ? *facts.user : *facts.machine;
  return {Level::kPass, code,
          "The host is registered for " + browser +
              (facts.user ? " for this user (" : " for every user of the machine (") +
              used.manifest + ")."};
}

bool Numbered(const std::string& name) {
  const std::size_t digits = name.size() - (name.rfind('-', 0) == 0 ? 1 : 0);
  return digits > 0 && digits <= 9 &&
         std::all_of(name.end() - static_cast<std::ptrdiff_t>(digits), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

struct ForceVerdict {
  Finding finding;
  bool forced = false;
};

ForceVerdict JudgeForcelist(const BrowserExtensionFacts& facts) {
  const std::string code = Code("FORCE_INSTALL_", facts.browser);
  const std::string id = messaging::ChromiumExtensionId();
  const std::string none =
      "No policy force-installs the QARDEX extension in " + facts.browser + ".";
  for (const auto& [name, data] : facts.forcelist) {
    if (data != id && data.rfind(id + ";", 0) != 0) continue;
    const std::string from = data == id ? "its store" : data.substr(id.size() + 1);
    if (!Numbered(name)) {
      return {{Level::kWarn, code,
               facts.browser + "'s ExtensionInstallForcelist names the QARDEX extension under \"" +
                   name + "\", which " + facts.browser +
                   " passes over (it reads only entries named by a number): name the entry " +
                   messaging::kForcelistValueName + "."},
              false};
    }
    return {{Level::kPass, code,
             facts.browser + " force-installs the QARDEX extension from " + from + "."},
            true};
  }
  return {{Level::kPass, code, none}, false};
}

std::string Member(const TextMembers& members, const char* name) {
  const auto found = members.strings.find(name);
  return found == members.strings.end() ? std::string() : found->second;
}

ForceVerdict JudgeFirefoxSettings(const BrowserExtensionFacts& facts) {
  const std::string code = Code("FORCE_INSTALL_", facts.browser);
  std::optional<TextMembers> ours;
  std::string where = "the key ExtensionSettings\\" + std::string(build::kFirefoxExtensionId);
  if (facts.settingsKey && facts.settingsJson) {
    return {{Level::kWarn, code,
             "Firefox's policy ExtensionSettings is both a key and a JSON value; Firefox reads the "
             "key and ignores the JSON: move the JSON's entries into subkeys of the key, or "
             "remove the key."},
            false};
  }
  if (facts.settingsOurs) {
    TextMembers members;
    for (const auto& [name, data] : *facts.settingsOurs) members.strings[name] = data;
    ours = std::move(members);
  } else if (facts.settingsJson) {
    const MemberObject found = ReadMemberObject(*facts.settingsJson, build::kFirefoxExtensionId);
    if (!found.valid) {
      return {{Level::kWarn, code,
               "Firefox's policy ExtensionSettings is not valid JSON, so Firefox ignores it: "
               "correct it."},
              false};
    }
    ours = found.object;
    where = "the ExtensionSettings JSON";
  }
  if (!ours) {
    return {{Level::kPass, code, "No policy force-installs the QARDEX extension in Firefox."},
            false};
  }
  const std::string mode = Member(*ours, messaging::kFirefoxModeValue);
  const std::string url = Member(*ours, messaging::kFirefoxUrlValue);
  if (mode == "blocked") {
    return {{Level::kWarn, code,
             "Firefox's policy blocks the QARDEX extension (" + where +
                 "): remove that entry to let users have it."},
            false};
  }
  if (mode != messaging::kFirefoxForcedMode && mode != "normal_installed") {
    return {
        {Level::kPass, code,
         "Firefox's policy names the QARDEX extension (" + where + ") but does not install it."},
        false};
  }
  if (url.empty()) {
    return {{Level::kWarn, code,
             "Firefox's policy installs the QARDEX extension (" + where +
                 ") but gives no install_url, so Firefox cannot fetch it: add the URL."},
            false};
  }
  return {{Level::kPass, code, "Firefox force-installs the QARDEX extension from " + url + "."},
          true};
}

}  // namespace

Findings JudgeExtension(const std::vector<BrowserExtensionFacts>& browsers,
                        const FileExists& exists) {
  Findings findings;
  for (const BrowserExtensionFacts& facts : browsers) {
    const ForceVerdict force = facts.family == BrowserFamily::Firefox ? JudgeFirefoxSettings(facts)
                                                                      : JudgeForcelist(facts);
    findings.push_back(JudgeHost(facts, force.forced, exists));
    findings.push_back(force.finding);
  }
  return findings;
}

}  // namespace qardex::checkup
