#include "setup/run_account_win.h"

#include "common/win_handles.h"

namespace qardex::setup {

bool RunsElevated() {
  BYTE admins[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof admins;
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) &&
         CheckTokenMembership(nullptr, admins, &member) && member;
}

bool IsRunAccount(PSID sid) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  const common::KernelHandle token(raw);
  BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size) &&
         EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, sid);
}

}  // namespace qardex::setup
