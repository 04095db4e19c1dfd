// The users behind processes and Windows sessions, as their tokens tell them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/win_handles.h"

namespace qardex::service {

// The token user's SID as text ("S-1-5-21-..."); nothing when the token does not tell.
std::optional<std::string> UserSidOfToken(HANDLE token);

// The Windows session the token belongs to.
std::optional<std::uint32_t> SessionOfToken(HANDLE token);

// This process's Windows session.
std::optional<std::uint32_t> OwnSession();

struct SessionUserToken {
  common::KernelHandle token;  // null: nobody is signed in, or the session is not ours to know
  bool ownToken = false;       // this process's own token, standing in for its session's user
  DWORD error = 0;             // why there is no token
};

// The primary token of the user signed in to `session` (WTSQueryUserToken, which needs the
// SE_TCB privilege LocalSystem holds). A process without that privilege (the console mode) stands
// in for the user of its own session with its own token and knows no other session's user.
SessionUserToken QuerySessionUserToken(std::uint32_t session);

}  // namespace qardex::service
