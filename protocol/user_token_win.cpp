#include "protocol/user_token_win.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <vector>

namespace qardex::service {

namespace {

// A TOKEN_USER is a SID pointer and attributes, followed by the SID itself.
constexpr DWORD kLargestTokenUser = sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE;

}  // namespace

std::optional<std::string> UserSidOfToken(HANDLE token) {
  // Pointer-aligned storage: TOKEN_USER starts with a pointer.
  std::vector<ULONG_PTR> storage(kLargestTokenUser / sizeof(ULONG_PTR) + 1);
  DWORD needed = 0;
  if (!GetTokenInformation(token, TokenUser, storage.data(), kLargestTokenUser, &needed)) {
    return std::nullopt;
  }
  const auto* user = reinterpret_cast<const TOKEN_USER*>(storage.data());
  wchar_t* raw = nullptr;
  if (!ConvertSidToStringSidW(user->User.Sid, &raw)) return std::nullopt;
  const common::LocalMemory<wchar_t> text(raw);
  std::string sid;
  for (const wchar_t* unit = text.get(); *unit != L'\0'; ++unit) {
    // A SID's text is "S-" and digits and dashes only.
    if (*unit > 0x7F) return std::nullopt;
    sid.push_back(static_cast<char>(*unit));
  }
  return sid;
}

std::optional<std::uint32_t> SessionOfToken(HANDLE token) {
  DWORD session = 0;
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenSessionId, &session, sizeof session, &size)) {
    return std::nullopt;
  }
  return session;
}

std::optional<std::uint32_t> OwnSession() {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return std::nullopt;
  return session;
}

SessionUserToken QuerySessionUserToken(std::uint32_t session) {
  SessionUserToken result;
  HANDLE raw = nullptr;
  if (WTSQueryUserToken(session, &raw)) {
    result.token.reset(raw);
    return result;
  }
  result.error = GetLastError();
  if (result.error != ERROR_PRIVILEGE_NOT_HELD || OwnSession() != session) return result;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    result.error = GetLastError();
    return result;
  }
  result.token.reset(raw);
  result.ownToken = true;
  result.error = 0;
  return result;
}

}  // namespace qardex::service
