#include "setup/write_access.h"

#include <gtest/gtest.h>

namespace qardex::setup {
namespace {

using Kind = ForeignWriter::Kind;
const AccessEntry kInstaller{TrusteeOfSid("S-1-5-80-956008885-3418522649-1831038044-1853292631-"
                                          "2271478464"),
                             0, 0x1f01ff};
const AccessEntry kAdmins{TrusteeOfSid("S-1-5-32-544"), 0, 0x10000000};
const AccessEntry kCreator{TrusteeOfSid("S-1-3-0"), 0, 0x10000000};
const AccessEntry kOwnerAll{Trustee::kOwner, 0, 0x1f01ff};
const AccessEntry kUsersRead{TrusteeOfSid("S-1-5-32-545"), 0, 0x1200a9 | 0x100};  // attributes
const AccessEntry kUsersDenied{Trustee::kOther, 1, 0x10000000};

TEST(WriteAccess, OnlyAdministratorsMayWriteDeleteOrChangeTheAccessList) {
  const std::pair<AccessList, std::optional<Kind>> cases[] = {
      {{false, true, {kInstaller, kAdmins, kCreator, kOwnerAll, kUsersRead}}, std::nullopt},
      {{false, true, {kUsersDenied, {TrusteeOfSid("S-1-3-4"), 0, 0x40000}}}, std::nullopt},
      {{false, true, {kAdmins, kUsersRead, {Trustee::kOther, 0, 0x2}}}, Kind::kEntry},
      {{false, true, {kUsersRead, {Trustee::kOther, 0, 0x10000}}}, Kind::kEntry},    // delete
      {{false, true, {{Trustee::kOther, 5, 0x80000}}}, Kind::kEntry},                // owner
      {{false, true, {{TrusteeOfSid("S-1-5-18-1"), 0, 0x40000000}}}, Kind::kEntry},  // generic
      {{true, true, {kAdmins}}, Kind::kEveryone},
      {{false, false, {kAdmins}}, Kind::kOwner},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const auto& [list, kind] = cases[i];
    const std::optional<ForeignWriter> writer = FindForeignWriter(list);
    ASSERT_EQ(writer.has_value(), kind.has_value());
    if (!writer) continue;
    EXPECT_EQ(writer->kind, *kind);
    if (*kind == Kind::kEntry) {
      EXPECT_EQ(writer->entry, list.entries.size() - 1);
    }
  }
}

}  // namespace
}  // namespace qardex::setup
