// Copies of files only the system and administrators may read, such as the server's key.
#pragma once

#include <string>

namespace qardex::setup {

// Puts `content` over `destination` in a file that carries a protected access list granting
// SYSTEM and Administrators full control and no one anything else, from the moment it exists:
// the bytes go into a new file beside the destination, made with that list, which then takes
// the destination's place. False (destination untouched) when any step fails.
bool WriteForSystemOnly(const std::string& content, const std::string& destination);

}  // namespace qardex::setup
