#include "packaging/msi/extension_rows.h"

#include "common/text_conversion.h"
#include "messaging/extension_policies.h"
#include "messaging/host_registrations.h"
#include "packaging/msi/wix_text.h"
#include "qardex_extension.h"

namespace qardex::packaging {

namespace {

using messaging::BrowserFamily;

// The tables' keys are ASCII.
std::string Narrow(const std::wstring& text) { return common::WideToUtf8(text); }

std::string Attribute(const std::string& literal) {
  return XmlAttribute(FormattedLiteral(literal));
}

// A REG_SZ under HKLM; `formatted` is already text for a Formatted field.
std::string Value(const std::string& key, const std::string& name, const std::string& formatted) {
  return "<RegistryValue Root=\"HKLM\" Key=\"" + Attribute(key) + "\"" +
         (name.empty() ? "" : " Name=\"" + Attribute(name) + "\"") + " Type=\"string\" Value=\"" +
         XmlAttribute(formatted) + "\"/>\n";
}

std::string Reference(const char* property) { return std::string("[") + property + "]"; }

}  // namespace

std::string WixHostRows(const std::string& stageFolder) {
  std::string out;
  for (BrowserFamily family : {BrowserFamily::Chromium, BrowserFamily::Firefox}) {
    const std::string file = Narrow(messaging::ManifestFileName(family));
    out += "<File Id=\"" + XmlAttribute(file) + "\" Name=\"" + XmlAttribute(file) + "\" Source=\"" +
           XmlAttribute(stageFolder + "/" + file) + "\"/>\n";
  }
  for (const messaging::BrowserRegistration& browser : messaging::HostRegistrations()) {
    const std::string file = Narrow(messaging::ManifestFileName(browser.family));
    out += Value(Narrow(browser.key), "", "[#" + file + "]");
  }
  return out;
}

const std::vector<ForceInstallProperty>& ForceInstallProperties() {
  static const std::vector<ForceInstallProperty> properties = {
      {"CHROMIUM_EXTENSION_UPDATE_URL", "QARDEX_SAVED_CHROMIUM_URL", "ChromiumUpdateUrl",
       "ChromiumForceInstall", "RememberChromiumUrl", false},
      {"FIREFOX_EXTENSION_URL", "QARDEX_SAVED_FIREFOX_URL", "FirefoxInstallUrl",
       "FirefoxForceInstall", "RememberFirefoxUrl", true},
  };
  return properties;
}

std::string WixForceInstallRows(const ForceInstallProperty& property) {
  const std::string url = Reference(property.property);
  std::string out;
  for (const messaging::ExtensionPolicy& policy : messaging::ExtensionPolicies()) {
    if ((policy.family == BrowserFamily::Firefox) != property.firefox) continue;
    const std::string key = Narrow(messaging::PolicyKey(policy));
    if (property.firefox) {
      const std::string ours = key + "\\" + build::kFirefoxExtensionId;
      out += Value(ours, messaging::kFirefoxModeValue,
                   FormattedLiteral(messaging::kFirefoxForcedMode));
      out += Value(ours, messaging::kFirefoxUrlValue, url);
    } else {
      out += Value(key, messaging::kForcelistValueName,
                   FormattedLiteral(messaging::ForcelistEntry("")) + url);
    }
  }
  return out + Value(kSavedValuesKey, property.valueName, url);
}

std::string WixForceInstallProperties() {
  std::string out;
  for (const ForceInstallProperty& p : ForceInstallProperties()) {
    out += std::string("<Property Id=\"") + p.saved + "\"><RegistrySearch Id=\"" + p.saved +
           "_SEARCH\" Root=\"HKLM\" Key=\"" + Attribute(kSavedValuesKey) + "\" Name=\"" +
           p.valueName + "\" Type=\"raw\" Win64=\"$(var.Win64)\"/></Property>\n";
    out += std::string("<CustomAction Id=\"") + p.action + "\" Property=\"" + p.property +
           "\" Value=\"" + Reference(p.saved) + "\"/>\n";
  }
  return out;
}

std::string WixForceInstallSequence() {
  // Right after AppSearch (50), before anything looks at the properties.
  constexpr int kAfterAppSearch = 51;
  std::string out;
  int sequence = kAfterAppSearch;
  for (const ForceInstallProperty& p : ForceInstallProperties()) {
    out += std::string("<Custom Action=\"") + p.action + "\" Sequence=\"" +
           std::to_string(sequence++) + "\">NOT " + p.property + " AND " + p.saved + "</Custom>\n";
  }
  return out;
}

std::string ForceInstallConditions() {
  std::string out;
  for (const ForceInstallProperty& p : ForceInstallProperties()) {
    out += std::string(p.component) + "\t" + p.property + " AND " + p.property + " <> \"" +
           kNoForceInstall + "\"\n";
  }
  return out;
}

}  // namespace qardex::packaging
