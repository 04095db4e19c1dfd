// Runs a command through the command interpreter of the system folder and waits for it.
#pragma once

#include <string>

namespace qardex::setup {

// "<system folder>\cmd.exe /c <command>" on the same console, in the system folder as current
// folder, with COMSPEC naming that interpreter in its environment; returns the interpreter's
// exit code, or -1 when it could not be started.
int RunThroughInterpreter(const std::string& command);

}  // namespace qardex::setup
