// Creates a file of the certificate set: a new file only (an existing one would keep its own
// access list), written whole, with the access it needs from its first byte on.
#pragma once

#include <filesystem>
#include <string>

namespace qardex::keymint {

enum class FileAccess {
  kInherited,   // what the folder passes on
  kPrivateKey,  // SYSTEM and Administrators only, nothing inherited (the owner alone natively)
};

// Throws MintError (naming `name`) when the file exists already, cannot be made or written.
void WriteNewFile(const std::filesystem::path& path, const std::string& name,
                  const std::string& content, FileAccess access);

}  // namespace qardex::keymint
