#include "setup/write_access.h"

#include <gtest/gtest.h>

#include "setup/guarded_paths.h"

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

// A folder above the installation folder: only entries that apply to it count, and adding
// files and folders beside it is allowed.
TEST(WriteAccess, NoOneElseMayMoveAFolderAboveTheInstallation) {
  constexpr std::uint8_t kInheritOnly = 0x0b;  // object and container inherit, inherit only
  const AccessEntry kSystemAll{TrusteeOfSid("S-1-5-18"), 0, 0x1f01ff, 0x03};
  const AccessEntry kUsersReadAll{TrusteeOfSid("S-1-5-32-545"), 0, 0x1200a9, 0x03};
  const AccessEntry kAuthenticatedModifyBelow{TrusteeOfSid("S-1-5-11"), 0, 0xe0010000,
                                              kInheritOnly};
  const AccessEntry kAuthenticatedAddFolder{TrusteeOfSid("S-1-5-11"), 0, 0x4, 0};
  const AccessList root{false,
                        true,
                        {kAdmins,
                         kSystemAll,
                         kUsersReadAll,
                         kAuthenticatedModifyBelow,
                         kAuthenticatedAddFolder,
                         {Trustee::kOther, 0, 0x2, 0}}};
  const auto with = [&root](AccessEntry entry) {
    AccessList list = root;
    list.entries.push_back(entry);
    return list;
  };
  AccessList userOwned = root;
  userOwned.ownerIsAdministrator = false;
  const std::pair<AccessList, std::optional<Kind>> cases[] = {
      {root, std::nullopt},  // C:\ as Windows sets it up
      {userOwned, Kind::kOwner},
      {with({TrusteeOfSid("S-1-5-32-545"), 0, 0x40, 0}), Kind::kEntry},  // delete child
      {with({TrusteeOfSid("S-1-5-11"), 0, 0x40000, 0}), Kind::kEntry},   // write access list
      {with({Trustee::kOther, 0, 0x10000000, 0x02}), Kind::kEntry},      // generic all
      {with({Trustee::kOther, 0, 0x10000000, kInheritOnly}), std::nullopt},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const auto& [list, kind] = cases[i];
    const std::optional<ForeignWriter> mover = FindForeignMover(list);
    ASSERT_EQ(mover.has_value(), kind.has_value());
    if (mover) {
      EXPECT_EQ(mover->kind, *kind);
    }
  }
}

TEST(WriteAccess, FoldersAboveTheInstallationReachTheVolumeRoot) {
  using Folders = std::vector<std::string>;
  const std::pair<const char*, Folders> cases[] = {
      {"C:\\Program Files\\QARDEX", {"C:\\Program Files", "C:\\"}},
      {"D:\\apps\\q\\", {"D:\\apps", "D:\\"}},
      {"\\\\srv\\share\\q\\x", {"\\\\srv\\share\\q", "\\\\srv\\share\\"}},
      {"\\\\?\\C:\\q", {"\\\\?\\C:\\"}},
      {"\\\\?\\UNC\\srv\\share\\q", {"\\\\?\\UNC\\srv\\share\\"}},
      {"C:\\", {}},
  };
  for (const auto& [folder, ancestors] : cases)
    EXPECT_EQ(AncestorFolders(folder), ancestors) << folder;
}

}  // namespace
}  // namespace qardex::setup
