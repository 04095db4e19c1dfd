// Reads the owner and access list of the installation's folders and files and stops a run when
// someone besides the administrators can change one of them: an elevated run would otherwise
// start, register or trust what a standard user put there.
#pragma once

#include <string>
#include <vector>

#include "setup/install_texts.h"

namespace qardex::setup {

// True when none of `paths` that exist can be written by anyone but the administrators. Otherwise
// the first one that can (and by whom), or whose rights cannot be read, goes to `report`.
bool OnlyAdministratorsCanWrite(const std::vector<std::string>& paths, const LineSink& report);

// True when no one but the administrators can rename, delete, replace or re-permission any of
// `folders` (the folders above the installation folder, AncestorFolders): whoever could, could
// put a folder of their own in the installation folder's place after the check. Otherwise the
// first one that someone else can (and who), or whose rights cannot be read, goes to `report`.
bool OnlyAdministratorsCanMove(const std::vector<std::string>& folders, const LineSink& report);

}  // namespace qardex::setup
