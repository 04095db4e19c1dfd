#include "setup/hosts_update.h"

#include <climits>
#include <new>

#include "setup/hosts_rewrite.h"
#include "setup/install_texts.h"

namespace qardex::setup {

namespace {

// The size is shown as an int, and the working memory is twice the size.
constexpr std::uint64_t kLargestHostsFile = INT_MAX / 4;

bool ReserveWorkingMemory(std::string* content, std::uint64_t oldSize, std::size_t hostLength) {
  if (oldSize > kLargestHostsFile) return false;
  try {
    content->reserve(HostsRewriteBound(static_cast<std::size_t>(oldSize), hostLength));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

HostsOutcome UpdateHostsFile(HostsFiles& files, const HostsPaths& paths, std::string_view host,
                             const LineSink& console) {
  std::uint64_t size = 0;
  if (const SystemError error = files.OpenForAppending(paths.hosts, &size)) {
    console(Format(text::kHostsOpenFailed, error));
    return HostsOutcome::kFailed;
  }
  console(Format(text::kReadFileSize, static_cast<int>(size > INT_MAX ? INT_MAX : size)));

  std::string fresh;
  if (!ReserveWorkingMemory(&fresh, size, host.size())) {
    console(Format(text::kMemoryFailed, kErrorNotEnoughMemory));
    return HostsOutcome::kFailed;
  }

  std::string old;
  if (const SystemError error = files.ReadAll(paths.hosts, &old)) {
    console(Format(text::kHostsReadFailed, error));
    return HostsOutcome::kFailed;
  }
  // The file may have grown since its size was taken.
  if (old.size() > size && !ReserveWorkingMemory(&fresh, old.size(), host.size())) {
    console(Format(text::kMemoryFailed, kErrorNotEnoughMemory));
    return HostsOutcome::kFailed;
  }

  if (const SystemError error = files.WriteWhole(paths.backup, old)) {
    console(Format(text::kHostsBackupFailed, error));
    return HostsOutcome::kFailed;
  }

  if (RewriteHosts(old, host, &fresh).entryPresent) return HostsOutcome::kEntryPresent;

  SystemError error = files.WriteWhole(paths.staging, fresh);
  if (!error) error = files.Replace(paths.hosts, paths.staging);
  if (error) {
    files.Remove(paths.staging);
    console(Format(text::kHostsWriteFailed, error));
    return HostsOutcome::kFailed;
  }
  return HostsOutcome::kEntryAdded;
}

}  // namespace qardex::setup
