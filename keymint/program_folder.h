// The folder that holds the running program: the tool writes its files there.
#pragma once

#include <filesystem>

namespace qardex::keymint {

// Throws MintError when the system does not tell.
std::filesystem::path ProgramFolder();

}  // namespace qardex::keymint
