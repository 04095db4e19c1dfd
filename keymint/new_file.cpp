#include "keymint/new_file.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include "common/win_handles.h"
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include <algorithm>
#include <memory>

#include "keymint/mint_error.h"
#include "qardex_constants.h"

namespace qardex::keymint {

namespace {

#ifdef _WIN32

using FileHandle = common::KernelHandle;
using Descriptor = common::LocalMemory<>;

std::string LastError() { return "error " + std::to_string(GetLastError()); }

Descriptor PrivateKeyDescriptor(const std::string& name) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          build::kPrivateKeyFileSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    throw MintError("cannot make the access list for " + name + " (" + LastError() + ")");
  }
  return Descriptor(descriptor);
}

FileHandle CreateNew(const std::filesystem::path& path, const std::string& name,
                     FileAccess access) {
  Descriptor descriptor;
  if (access == FileAccess::kPrivateKey) descriptor = PrivateKeyDescriptor(name);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, descriptor ? &attributes : nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw MintError("cannot create a temporary file for " + name + " (" + LastError() + ")");
  }
  return FileHandle(file);
}

bool WriteAll(const FileHandle& file, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1 << 20));
    if (!WriteFile(file.get(), content.data() + done, piece, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

#else

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { close(fd_); }
  int get() const { return fd_; }

 private:
  int fd_;
};

Descriptor CreateNew(const std::filesystem::path& path, const std::string& name,
                     FileAccess access) {
  const mode_t mode = access == FileAccess::kPrivateKey ? 0600 : 0666;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    throw MintError("cannot create a temporary file for " + name + " (" + std::strerror(errno) +
                    ")");
  }
  return Descriptor(fd);
}

bool WriteAll(const Descriptor& file, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t written = write(file.get(), content.data() + done, content.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

#endif

}  // namespace

void WriteNewFile(const std::filesystem::path& path, const std::string& name,
                  const std::string& content, FileAccess access) {
  const auto file = CreateNew(path, name, access);
  if (!WriteAll(file, content)) throw MintError("cannot write " + name + " completely");
}

}  // namespace qardex::keymint
