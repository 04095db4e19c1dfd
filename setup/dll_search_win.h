// Where the installer and the uninstaller look for the DLLs they load after start: the system
// folder only. Their own folder may be a download folder that anyone can put a DLL into.
#pragma once

namespace qardex::setup {

// Call first thing in the program. Where the system has no such setting (Windows 7 without its
// update), at least the current folder is taken out of the search.
void LoadDllsFromSystemFolderOnly();

}  // namespace qardex::setup
