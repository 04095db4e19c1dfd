// The current user's temporary-files folder, ending in a path separator.
#pragma once

#include <optional>
#include <string>

namespace qardex::diag {
std::optional<std::string> TempDirectory();
}
