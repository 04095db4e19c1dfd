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

}  // namespace

std::vector<std::string> InstallerGuardedPaths(std::string_view folder,
                                               const InstallLayout& layout) {
  std::vector<std::string> files = {layout.serviceProgram, Join(folder, kKeyMintProgram),
                                    Join(folder, kTrustScript)};
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
