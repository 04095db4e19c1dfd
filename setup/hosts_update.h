// The hosts-file update: backup first, then the rewrite, written beside the hosts file and put
// in its place, so the hosts file is either left as it was or replaced whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "setup/install_layout.h"
#include "setup/install_texts.h"
#include "setup/system_errors.h"

namespace qardex::setup {

// The file operations the update needs; each returns a system error number, 0 on success.
class HostsFiles {
 public:
  virtual ~HostsFiles() = default;
  // Opens `path` for appending, creating it when missing, reports its size and closes it again.
  virtual SystemError OpenForAppending(const std::string& path, std::uint64_t* size) = 0;
  virtual SystemError ReadAll(const std::string& path, std::string* content) = 0;
  // Creates or replaces `path` holding exactly `content`, flushed to disk.
  virtual SystemError WriteWhole(const std::string& path, std::string_view content) = 0;
  // Puts `replacement` in the place of `target` in one step; `replacement` is gone after.
  virtual SystemError Replace(const std::string& target, const std::string& replacement) = 0;
  virtual void Remove(const std::string& path) = 0;
};

enum class HostsOutcome { kEntryAdded, kEntryPresent, kFailed };

// Maps `host` to 127.0.0.1 in the hosts file. Console lines as the run reaches them; on
// kFailed the hosts file is as it was before (or newly created empty when it was missing).
HostsOutcome UpdateHostsFile(HostsFiles& files, const HostsPaths& paths, std::string_view host,
                             const LineSink& console);

}  // namespace qardex::setup
