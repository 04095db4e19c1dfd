#include <gtest/gtest.h>
#include <strings.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/policy_values.h"
#include "common/text_conversion.h"
#include "messaging/extension_policies.h"
#include "qardex_extension.h"

namespace qardex::packaging {
namespace {

// The values the shipped templates write, "KEY<TAB>VALUE[<TAB>DATA]" lines.
std::string TemplateValues() {
  const std::string command = std::string("python3 '") + QARDEX_POLICY_CHECK + "' '" +
                              QARDEX_POLICY_DIR + "/QARDEX.admx' '" + QARDEX_POLICY_DIR +
                              "/en-US/QARDEX.adml' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  std::string output;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  return pclose(pipe) == 0 ? output : "failed: " + output;
}

// The shipped group policy templates parse and set every value the code reads under our key.
TEST(PolicyTemplates, DescribeEveryPolicyValueTheCodeReads) {
  const std::string output = TemplateValues();
  ASSERT_EQ(output.rfind("failed", 0), std::string::npos) << output;
  for (const char* value : common::kPolicyValueNames) {
    const std::string wanted = std::string(common::kPolicyKeyPath) + "\t" + value;
    std::istringstream lines(output);
    bool found = false;
    for (std::string line; !found && std::getline(lines, line);) {
      found = strcasecmp(line.c_str(), wanted.c_str()) == 0;  // registry names ignore case
    }
    EXPECT_TRUE(found) << value << " is not in the templates:\n" << output;
  }
}

// Each browser's force-install policy writes where the browser reads it, with our ids: the
// forcelist entry under our number, offered with our Chromium id; Firefox's key of our id.
TEST(PolicyTemplates, ForceInstallOurExtensionWhereEachBrowserReads) {
  const std::string output = TemplateValues();
  for (const messaging::ExtensionPolicy& policy : messaging::ExtensionPolicies()) {
    const std::string key = common::WideToUtf8(messaging::PolicyKey(policy));
    const std::vector<std::string> wanted =
        policy.family == messaging::BrowserFamily::Firefox
            ? std::vector<std::string>{key + "\\" + build::kFirefoxExtensionId + "\t" +
                                           messaging::kFirefoxModeValue + "\t" +
                                           messaging::kFirefoxForcedMode,
                                       key + "\\" + build::kFirefoxExtensionId + "\t" +
                                           messaging::kFirefoxUrlValue + "\thttps://"}
            : std::vector<std::string>{key + "\t" + messaging::kForcelistValueName + "\t" +
                                       messaging::ForcelistEntry("https://")};
    for (const std::string& line : wanted) {
      EXPECT_NE(("\n" + output).find("\n" + line + "\n"), std::string::npos)
          << policy.browser << ": no line " << line << " in\n"
          << output;
    }
  }
}

}  // namespace
}  // namespace qardex::packaging
