// The folders and files of the installation folder that an elevated run starts, registers or
// trusts, and so must be writable by administrators only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "setup/install_layout.h"

namespace qardex::setup {

// The installer's: the service program, the certificate tool, the store script and every
// certificate file it copies or imports, after the folders that hold them (the installation
// folder first). `layout` is that of `folder`.
std::vector<std::string> InstallerGuardedPaths(std::string_view folder,
                                               const InstallLayout& layout);

// Every folder above `folder` up to its volume's root, nearest first: for C:\A\B these are C:\A
// and C:\ (for \\server\share\A the share's root \\server\share\, likewise after \\?\). Empty
// for a root, and for a path of no such form.
std::vector<std::string> AncestorFolders(std::string_view folder);

// The uninstaller's: the folder and the script it runs from there.
std::vector<std::string> RemovalGuardedPaths(std::string_view folder);

}  // namespace qardex::setup
