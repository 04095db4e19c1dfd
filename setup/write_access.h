// Who besides the machine's administrators can change a file or folder that the installer runs
// or trusts: the decision over its owner and access list, apart from how the system reports
// them. Administrators here are SYSTEM, the Administrators group, TrustedInstaller and an owner
// that is itself an administrator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qardex::setup {

enum class Trustee {
  kSystem,
  kAdministrators,
  kTrustedInstaller,
  kCreatorOwner,  // stands for whoever creates an object below; the installer, elevated
  kOwnerRights,   // the owner, whoever that is
  kOwner,         // the account that owns the object (when it is none of the above)
  kOther,
};

// The trustee of a SID in its text form ("S-1-5-18"); kOther for any account not named above.
Trustee TrusteeOfSid(std::string_view sidText);

struct AccessEntry {
  Trustee trustee = Trustee::kOther;
  std::uint8_t aceType = 0;  // as the ACE header holds it
  std::uint32_t mask = 0;
  std::uint8_t aceFlags = 0;  // likewise; inherit-only entries do not apply to the object itself
};

struct AccessList {
  bool everyone = false;  // no access list at all: every right for everyone
  bool ownerIsAdministrator = false;
  // Every entry counts, inheritable ones too: they pass to what the installer creates there.
  std::vector<AccessEntry> entries;
};

struct ForeignWriter {
  enum class Kind { kEveryone, kOwner, kEntry };
  Kind kind = Kind::kEveryone;
  std::size_t entry = 0;  // for kEntry
};

// The first one besides the administrators that can write, delete, or change the access list or
// the owner; nullopt when there is none. An owner may always rewrite the access list, so an owner
// that is not an administrator is one.
std::optional<ForeignWriter> FindForeignWriter(const AccessList& list);

// For a folder above the installation folder: the first one besides the administrators that
// can rename, delete, replace or re-permission it (delete it, change its access list or owner,
// write or do anything to it) or any folder in it (delete a child); nullopt when there is none.
// Only entries that apply to the folder itself count. Adding files and folders to it is allowed
// (what standard users may do at a volume's root).
std::optional<ForeignWriter> FindForeignMover(const AccessList& folder);

}  // namespace qardex::setup
