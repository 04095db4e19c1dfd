#include <gtest/gtest.h>
#include <strings.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "common/policy_values.h"

namespace qardex::packaging {
namespace {

// The shipped group policy templates parse and set every value the code reads under our key.
TEST(PolicyTemplates, DescribeEveryPolicyValueTheCodeReads) {
  const std::string command = std::string("python3 '") + QARDEX_POLICY_CHECK + "' '" +
                              QARDEX_POLICY_DIR + "/QARDEX.admx' '" + QARDEX_POLICY_DIR +
                              "/en-US/QARDEX.adml' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  ASSERT_EQ(pclose(pipe), 0) << output;
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

}  // namespace
}  // namespace qardex::packaging
