#include "setup/guarded_paths.h"

#include <algorithm>

namespace qardex::setup {

namespace {

std::string Join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += '\\';
  path += name;
  return path;
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// "X:\" at `at`: the length up to its end; 0 for anything else.
std::size_t DriveRootEnd(std::string_view path, std::size_t at) {
  const bool drive = path.size() >= at + 3 && path[at + 1] == ':' && path[at + 2] == '\\' &&
                     ((path[at] >= 'A' && path[at] <= 'Z') || (path[at] >= 'a' && path[at] <= 'z'));
  return drive ? at + 3 : 0;
}

// "server\share\" at `at`: the length up to its end; 0 for anything else.
std::size_t ShareRootEnd(std::string_view path, std::size_t at) {
  const std::size_t server = path.find('\\', at);
  if (server == std::string_view::npos || server == at) return 0;
  const std::size_t share = path.find('\\', server + 1);
  if (share == std::string_view::npos || share == server + 1) return 0;
  return share + 1;
}

std::size_t RootLength(std::string_view path) {
  if (StartsWith(path, "\\\\?\\UNC\\")) return ShareRootEnd(path, 8);
  if (StartsWith(path, "\\\\?\\")) return DriveRootEnd(path, 4);
  if (StartsWith(path, "\\\\")) return ShareRootEnd(path, 2);
  return DriveRootEnd(path, 0);
}

}  // namespace

std::vector<std::string> AncestorFolders(std::string_view folder) {
  const std::size_t root = RootLength(folder);
  std::vector<std::string> ancestors;
  if (root == 0) return ancestors;
  while (folder.size() > root && folder.back() == '\\') folder.remove_suffix(1);
  while (folder.size() > root) {
    const std::size_t separator = folder.find_last_of('\\');
    folder = folder.substr(0, separator + 1 <= root ? root : separator);
    ancestors.emplace_back(folder);
  }
  return ancestors;
}

std::vector<std::string> InstallerGuardedPaths(std::string_view folder,
                                               const InstallLayout& layout) {
  std::vector<std::string> files = {layout.serviceProgram, Join(folder, kKeyMintProgram),
                                    Join(folder, kTrustScript), Join(folder, kUntrustScript)};
  for (const CertificateCopy& copy : layout.copies) {
    files.push_back(copy.source);
    files.push_back(copy.destination);
  }
  // A file missing now can only be put there by someone who can write its folder.
  std::vector<std::string> paths;
  for (const std::string& file : files) {
    std::string holder = file.substr(0, file.find_last_of('\\'));
    if (std::find(paths.begin(), paths.end(), holder) == paths.end()) paths.push_back(holder);
  }
  paths.insert(paths.end(), files.begin(), files.end());
  return paths;
}

std::vector<std::string> RemovalGuardedPaths(std::string_view folder) {
  return {std::string(folder), Join(folder, kUntrustScript)};
}

}  // namespace qardex::setup
