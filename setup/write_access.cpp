#include "setup/write_access.h"

namespace qardex::setup {

namespace {

// Write data or add a file, append or add a folder, delete a child, delete, change the access
// list, take ownership, generic write, generic all.
constexpr std::uint32_t kWriteRights =
    0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x40000000 | 0x10000000;

// Delete a child, delete, change the access list, take ownership, generic write, generic all.
constexpr std::uint32_t kMoveRights = 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x40000000 | 0x10000000;
constexpr std::uint8_t kInheritOnly = 0x08;

// Access-allowed, compound, object, callback and callback-object entries.
bool Allows(std::uint8_t aceType) {
  return aceType == 0 || aceType == 4 || aceType == 5 || aceType == 9 || aceType == 11;
}

bool Trusted(Trustee trustee, bool ownerIsAdministrator) {
  switch (trustee) {
    case Trustee::kSystem:
    case Trustee::kAdministrators:
    case Trustee::kTrustedInstaller:
    case Trustee::kCreatorOwner:
      return true;
    case Trustee::kOwnerRights:
    case Trustee::kOwner:
      return ownerIsAdministrator;
    case Trustee::kOther:
      break;
  }
  return false;
}

}  // namespace

Trustee TrusteeOfSid(std::string_view sidText) {
  struct Known {
    std::string_view sid;
    Trustee trustee;
  };
  static constexpr Known kKnown[] = {
      {"S-1-5-18", Trustee::kSystem},
      {"S-1-5-32-544", Trustee::kAdministrators},
      {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
       Trustee::kTrustedInstaller},
      {"S-1-3-0", Trustee::kCreatorOwner},
      {"S-1-3-4", Trustee::kOwnerRights},
  };
  for (const Known& known : kKnown) {
    if (known.sid == sidText) return known.trustee;
  }
  return Trustee::kOther;
}

namespace {

std::optional<ForeignWriter> FindForeign(const AccessList& list, std::uint32_t rights,
                                         bool ownEntriesOnly) {
  if (list.everyone) return ForeignWriter{ForeignWriter::Kind::kEveryone};
  if (!list.ownerIsAdministrator) return ForeignWriter{ForeignWriter::Kind::kOwner};
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    const AccessEntry& entry = list.entries[i];
    if (ownEntriesOnly && (entry.aceFlags & kInheritOnly) != 0) continue;
    if (Allows(entry.aceType) && (entry.mask & rights) != 0 &&
        !Trusted(entry.trustee, list.ownerIsAdministrator)) {
      return ForeignWriter{ForeignWriter::Kind::kEntry, i};
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<ForeignWriter> FindForeignWriter(const AccessList& list) {
  return FindForeign(list, kWriteRights, false);
}

std::optional<ForeignWriter> FindForeignMover(const AccessList& folder) {
  return FindForeign(folder, kMoveRights, true);
}

}  // namespace qardex::setup
