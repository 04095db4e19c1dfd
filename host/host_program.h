// QARDEXHost.exe, the native messaging host com.qardex.host: started by the browser in the
// user's session as the user, for our extension only; it runs the page protocol over native
// messaging with the methods in its own process. Also `--register-user` and `--unregister-user`.
#pragma once

namespace qardex::host {

// The host's exit codes.
enum HostExit : int {
  kHostExitInputEnded = 0,    // the browser closed the port (or registration succeeded)
  kHostExitFailure = 1,       // a registration step failed, or the host could not start
  kHostExitNotOurCaller = 2,  // started by something other than our extensions
  kHostExitBadMessage = 3,    // a message too large, cut short or not a request
};

int RunHost(int argc, wchar_t** argv);

}  // namespace qardex::host
