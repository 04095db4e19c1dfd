// Runs a command through the system command interpreter and waits for it.
#pragma once

#include <string>

namespace qardex::setup {

// "%COMSPEC% /c <command>" (cmd.exe when COMSPEC is not set) on the same console; returns the
// interpreter's exit code, or -1 when it could not be started.
int RunThroughInterpreter(const std::string& command);

}  // namespace qardex::setup
