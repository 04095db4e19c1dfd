// The installation folder: the folder that holds the running program.
#pragma once

#include <optional>
#include <string>

#include "setup/install_texts.h"

namespace qardex::setup {

// Without a trailing backslash, narrow. On failure the reason goes to `console`.
std::optional<std::string> InstallationFolder(const LineSink& console);

// The system folder as GetSystemDirectoryW reports it; nullopt (reason in GetLastError) when it
// is unknown.
std::optional<std::wstring> SystemFolderWide();

// The system folder (as GetSystemDirectory reports it), narrow; on failure the reason goes to
// `console`.
std::optional<std::string> SystemFolder(const LineSink& console);

}  // namespace qardex::setup
