// The root's copy that Firefox's policy list names: certpem\ZELRootCA-<serial>.pem, a path of
// its own for each root, since Firefox installs no certificate again from a path it has
// installed one from before.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qardex::setup {

// Writes the copy of the first certificate of `pemText` into `folder`\certpem and deletes the
// copies of other roots there (the installer's certpem\ZELRootCA.pem stays); returns its name
// as FoxTrust.cmd takes it, or nullopt when the text holds no certificate, the path would not
// fit, or the file cannot be written.
std::optional<std::string> PlaceBrowserRoot(std::string_view folder, const std::string& pemText);

// Deletes the copies in `folder`\certpem named for a root other than `keep` (a name; empty:
// every such copy).
void RemoveOtherBrowserRoots(const std::filesystem::path& folder, const std::string& keep);

}  // namespace qardex::setup
