#include "setup/write_guard_win.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <optional>

#include "setup/narrow_text_win.h"
#include "setup/run_account_win.h"
#include "common/win_handles.h"
#include "setup/write_access.h"

namespace qardex::setup {

namespace {

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "?";
  const common::LocalMemory<> owned(text);
  return ToNarrow(text).value_or("?");
}

// "DOMAIN\name", the name alone when there is no domain, or the SID.
std::string AccountName(PSID sid) {
  wchar_t name[256] = {};
  wchar_t domain[256] = {};
  DWORD nameLength = ARRAYSIZE(name);
  DWORD domainLength = ARRAYSIZE(domain);
  SID_NAME_USE use = SidTypeUnknown;
  if (!LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
    return SidText(sid);
  }
  const std::wstring account = domainLength > 0 ? std::wstring(domain) + L"\\" + name : name;
  return ToNarrow(account).value_or(SidText(sid));
}

// The SID of an entry whose layout the system documents with one; null otherwise.
PSID EntrySid(const ACE_HEADER* header) {
  if (header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
      header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
    return const_cast<DWORD*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart);
  }
  return nullptr;
}

struct ReadRights {
  AccessList list;
  std::vector<PSID> sids;  // per entry; they live as long as the descriptor
  PSID owner = nullptr;
  common::LocalMemory<> descriptor;
};

Trustee TrusteeOf(PSID sid, PSID owner) {
  if (sid == nullptr) return Trustee::kOther;
  const Trustee known = TrusteeOfSid(SidText(sid));
  if (known == Trustee::kOther && owner != nullptr && EqualSid(sid, owner)) return Trustee::kOwner;
  return known;
}

DWORD Read(const std::wstring& path, ReadRights& rights) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  const DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &rights.owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return error;
  rights.descriptor.reset(descriptor);
  const Trustee owner = rights.owner ? TrusteeOfSid(SidText(rights.owner)) : Trustee::kOther;
  rights.list.ownerIsAdministrator = owner == Trustee::kSystem ||
                                     owner == Trustee::kAdministrators ||
                                     owner == Trustee::kTrustedInstaller ||
                                     (rights.owner && RunsElevated() && IsRunAccount(rights.owner));
  rights.list.everyone = dacl == nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return GetLastError();
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    const PSID sid = EntrySid(header);
    // Every documented entry layout has the access mask right after the header.
    const DWORD mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
    rights.list.entries.push_back(
        AccessEntry{TrusteeOf(sid, rights.owner), header->AceType, mask, header->AceFlags});
    rights.sids.push_back(sid);
  }
  return ERROR_SUCCESS;
}

std::string Who(const ReadRights& rights, const ForeignWriter& writer) {
  switch (writer.kind) {
    case ForeignWriter::Kind::kEveryone:
      return text::kEveryoneNoAccessList;
    case ForeignWriter::Kind::kOwner:
      return (rights.owner ? AccountName(rights.owner) : std::string("?")) + text::kOwnerSuffix;
    case ForeignWriter::Kind::kEntry:
      break;
  }
  const PSID sid = rights.sids[writer.entry];
  return sid ? AccountName(sid) : "?";
}

using Finder = std::optional<ForeignWriter> (*)(const AccessList&);

// `missingIsFine`: what is not there cannot be started or trusted; a folder that nobody else
// can write keeps it that way.
bool NoForeignWriter(const std::vector<std::string>& paths, Finder find, bool missingIsFine,
                     const LineSink& report) {
  for (const std::string& path : paths) {
    ReadRights rights;
    const DWORD error = Read(ToWide(path), rights);
    if (missingIsFine && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
      continue;
    }
    if (error != ERROR_SUCCESS) {
      report(Format(text::kAccessUnknown, path.c_str(), static_cast<int>(error)));
      return false;
    }
    if (const std::optional<ForeignWriter> writer = find(rights.list)) {
      report(Format(text::kWritableByOthers, path.c_str(), Who(rights, *writer).c_str()));
      return false;
    }
  }
  return true;
}

}  // namespace

bool OnlyAdministratorsCanWrite(const std::vector<std::string>& paths, const LineSink& report) {
  return NoForeignWriter(paths, FindForeignWriter, true, report);
}

bool OnlyAdministratorsCanMove(const std::vector<std::string>& folders, const LineSink& report) {
  return NoForeignWriter(folders, FindForeignMover, false, report);
}

}  // namespace qardex::setup
