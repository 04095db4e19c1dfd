// The environment handed to the programs the installer and the uninstaller start: their own,
// with COMSPEC naming the system interpreter, so that a script's pipes and command loops do not
// start whatever the user's environment names.
#pragma once

#include <string>
#include <string_view>

namespace qardex::setup {

// `block`: NAME=VALUE entries, each ending in a NUL, then one more NUL (as
// GetEnvironmentStringsW gives it; an empty block may lack both). Returns the same entries with
// every COMSPEC entry (of any letter case) replaced by one naming `interpreter`, kept where the
// first one stood, or else placed before the first name that sorts after it.
std::wstring WithInterpreter(std::wstring_view block, std::wstring_view interpreter);

}  // namespace qardex::setup
