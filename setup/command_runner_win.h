// Runs a command through the command interpreter of the system folder and waits for it.
#pragma once

#include <string>

namespace qardex::setup {

// "<system folder>\cmd.exe /c <command>" on the same console, in the system folder as current
// folder, with COMSPEC naming that interpreter in its environment; returns the interpreter's
// exit code, or -1 when it could not be started or ran longer than kCommandLimitMs (then it is
// ended: KeyMint.exe and the browser scripts take seconds; a hung one must not hold the
// installation for ever).
// `ownHandles`: the interpreter inherits none of this program's handles (a service's sockets
// among them), and writes to no console of this program.
inline constexpr unsigned long kCommandLimitMs = 5 * 60 * 1000;
int RunThroughInterpreter(const std::string& command, bool ownHandles = false);

}  // namespace qardex::setup
