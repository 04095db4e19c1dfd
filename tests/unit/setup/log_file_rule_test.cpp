#include "setup/log_file_rule.h"

#include <gtest/gtest.h>

namespace qardex::setup {
namespace {

TEST(LogFileRule, OnlyAPlainFileWithOneNameAndAnAllowedOwnerIsUsed) {
  using Owner = FileOwner;
  using Rule = OwnerRule;
  using Problem = LogFileProblem;
  const struct {
    LogFileFacts facts;
    Rule rule;
    std::optional<Problem> problem;
  } cases[] = {
      {{false, false, 1, Owner::kAdministrators}, Rule::kAdministrators, std::nullopt},
      {{false, false, 1, Owner::kRunAccount}, Rule::kAdministratorsOrRunAccount, std::nullopt},
      {{false, false, 1, Owner::kOther}, Rule::kAnyone, std::nullopt},
      {{false, false, 1, Owner::kOther}, Rule::kAdministratorsOrRunAccount, Problem::kForeignOwner},
      {{false, false, 1, Owner::kRunAccount}, Rule::kAdministrators, Problem::kForeignOwner},
      {{true, false, 1, Owner::kAdministrators}, Rule::kAnyone, Problem::kReparsePoint},
      {{true, true, 1, Owner::kAdministrators}, Rule::kAnyone, Problem::kReparsePoint},  // junction
      {{false, true, 1, Owner::kAdministrators}, Rule::kAnyone, Problem::kDirectory},
      {{false, false, 2, Owner::kAdministrators}, Rule::kAnyone, Problem::kLinks},
      {{false, false, 0, Owner::kAdministrators}, Rule::kAnyone, Problem::kLinks},  // deleted
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(JudgeLogFile(cases[i].facts, cases[i].rule), cases[i].problem);
  }
}

}  // namespace
}  // namespace qardex::setup
