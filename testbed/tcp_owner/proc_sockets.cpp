// Reads /proc as plain Linux code: compiled with the host compiler, without Wine's headers.
#include "proc_sockets.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

namespace tcp_owner {
namespace {

// /proc/net/tcp6 lines have about 180 characters; a longer line is skipped, never cut.
constexpr std::size_t kLineBytes = 512;
// "socket:[" + 20 digits + "]"; a longer descriptor link is no socket.
constexpr std::size_t kSocketLinkBytes = 64;
// A program path (PATH_MAX).
constexpr std::size_t kProgramLinkBytes = 4096;
// "4294967295/exe" and "4294967295/fd".
constexpr std::size_t kPidPathBytes = 32;
constexpr std::size_t kPidDigitsMax = 10;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;
struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

bool ParseHex(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > 16) return false;
  value = 0;
  for (const char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    value = value << 4 | digit;
  }
  return true;
}

bool ParseDecimal(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;  // stays below 2^63
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

// "AAAAAAAA:PPPP" for IPv4, 32 address digits for IPv6. The kernel prints each 32-bit word of
// the address as the number it makes in this machine's byte order, so storing that number
// gives back the address bytes in network order. The port is printed as a number.
bool ParseEndpoint(std::string_view text, Family family, Endpoint& endpoint) {
  const std::size_t words = AddressBytes(family) / 4;
  if (text.size() != words * 8 + 5 || text[words * 8] != ':') return false;
  endpoint = Endpoint{};
  for (std::size_t i = 0; i < words; ++i) {
    uint64_t word;
    if (!ParseHex(text.substr(i * 8, 8), word)) return false;
    const uint32_t stored = static_cast<uint32_t>(word);
    std::memcpy(endpoint.address.data() + i * 4, &stored, sizeof(stored));
  }
  uint64_t port;
  if (!ParseHex(text.substr(words * 8 + 1), port)) return false;
  endpoint.port = static_cast<uint16_t>(port);
  return true;
}

struct TableLine {
  Endpoint local;
  Endpoint remote;
  uint64_t inode = 0;
};

// "sl local remote st tx:rx tr:when retrnsmt uid timeout inode ...": fields 1, 2 and 9.
bool ParseTableLine(std::string_view line, Family family, TableLine& parsed) {
  std::string_view fields[10];
  std::size_t found = 0;
  std::size_t at = 0;
  while (found < std::size(fields)) {
    at = line.find_first_not_of(" \t\n", at);
    if (at == std::string_view::npos) break;
    const std::size_t end = std::min(line.find_first_of(" \t\n", at), line.size());
    fields[found++] = line.substr(at, end - at);
    at = end;
  }
  return found == std::size(fields) && ParseEndpoint(fields[1], family, parsed.local) &&
         ParseEndpoint(fields[2], family, parsed.remote) && ParseDecimal(fields[9], parsed.inode);
}

bool ConnectionLess(const ConnectionQuery& a, const ConnectionQuery& b) {
  return std::tie(a.local.address, a.local.port, a.remote.address, a.remote.port) <
         std::tie(b.local.address, b.local.port, b.remote.address, b.remote.port);
}

// A socket with an inode wins over an entry without one (TIME_WAIT) for the same pair.
void ReadInodes(Family family, std::vector<ConnectionQuery>& queries) {
  UniqueFile table(std::fopen(family == Family::ipv4 ? "/proc/net/tcp" : "/proc/net/tcp6", "re"));
  if (!table) return;
  std::vector<ConnectionQuery*> sorted;
  for (ConnectionQuery& query : queries) sorted.push_back(&query);
  const auto less = [](const ConnectionQuery* a, const ConnectionQuery* b) {
    return ConnectionLess(*a, *b);
  };
  std::sort(sorted.begin(), sorted.end(), less);

  char line[kLineBytes];
  bool rest_of_long_line = false;
  while (std::fgets(line, sizeof(line), table.get())) {
    const std::string_view text(line);
    const bool skip = rest_of_long_line;
    rest_of_long_line = text.empty() || text.back() != '\n';
    TableLine parsed;
    if (skip || rest_of_long_line || !ParseTableLine(text, family, parsed) || parsed.inode == 0)
      continue;
    ConnectionQuery key;
    key.local = parsed.local;
    key.remote = parsed.remote;
    const auto range = std::equal_range(sorted.begin(), sorted.end(), &key, less);
    for (auto it = range.first; it != range.second; ++it)
      if ((*it)->inode == 0) (*it)->inode = parsed.inode;
  }
}

bool IsPid(const char* name) {
  const std::size_t length = std::strlen(name);
  return length > 0 && length <= kPidDigitsMax &&
         std::all_of(name, name + length, [](char c) { return c >= '0' && c <= '9'; });
}

// The folder of a program link, empty when it cannot be read.
std::string ProgramFolder(int dir_fd, const char* link) {
  char target[kProgramLinkBytes];
  const ssize_t length = readlinkat(dir_fd, link, target, sizeof(target));
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof(target)) return {};
  const std::string_view path(target, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

// The inode of a "socket:[N]" descriptor link, 0 for anything else.
uint64_t SocketInode(int fd_dir, const char* name) {
  static constexpr std::string_view kPrefix = "socket:[";
  char target[kSocketLinkBytes];
  const ssize_t length = readlinkat(fd_dir, name, target, sizeof(target));
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof(target)) return 0;
  const std::string_view link(target, static_cast<std::size_t>(length));
  if (link.size() <= kPrefix.size() + 1 || link.substr(0, kPrefix.size()) != kPrefix ||
      link.back() != ']')
    return 0;
  uint64_t inode;
  return ParseDecimal(link.substr(kPrefix.size(), link.size() - kPrefix.size() - 1), inode) ? inode
                                                                                            : 0;
}

// One pass over every process's descriptors; a process is classified on its first match.
void ScanHolders(std::vector<ConnectionQuery>& queries) {
  std::vector<std::pair<uint64_t, ConnectionQuery*>> wanted;
  for (ConnectionQuery& query : queries)
    if (query.inode != 0) wanted.emplace_back(query.inode, &query);
  if (wanted.empty()) return;
  const auto by_inode = [](const auto& a, const auto& b) { return a.first < b.first; };
  std::sort(wanted.begin(), wanted.end(), by_inode);
  const std::string wine_folder = ProgramFolder(AT_FDCWD, "/proc/self/exe");
  UniqueDir proc(opendir("/proc"));
  if (!proc) return;

  while (const dirent* process = readdir(proc.get())) {
    if (!IsPid(process->d_name)) continue;
    char path[kPidPathBytes];
    std::snprintf(path, sizeof(path), "%s/fd", process->d_name);
    const int fd_dir = openat(dirfd(proc.get()), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_dir < 0) continue;  // gone, or not ours to read
    UniqueDir fds(fdopendir(fd_dir));
    if (!fds) {
      close(fd_dir);
      continue;
    }
    Holder kind = Holder::none;
    while (const dirent* fd = readdir(fds.get())) {
      const uint64_t inode = SocketInode(fd_dir, fd->d_name);
      if (inode == 0) continue;
      const auto first =
          std::lower_bound(wanted.begin(), wanted.end(), std::make_pair(inode, nullptr), by_inode);
      if (first == wanted.end() || first->first != inode) continue;
      if (kind == Holder::none) {
        std::snprintf(path, sizeof(path), "%s/exe", process->d_name);
        const bool wine =
            !wine_folder.empty() && ProgramFolder(dirfd(proc.get()), path) == wine_folder;
        kind = wine ? Holder::wine : Holder::other;
      }
      for (auto it = first; it != wanted.end() && it->first == inode; ++it)
        if (it->second->holder != Holder::wine) it->second->holder = kind;
    }
  }
}

}  // namespace

void FindSocketHolders(Family family, std::vector<ConnectionQuery>& queries) noexcept {
  try {
    ReadInodes(family, queries);
    ScanHolders(queries);
  } catch (...) {
    // Out of memory: every query keeps a consistent, possibly unanswered state.
  }
}

}  // namespace tcp_owner
