// The hosts-file rewrite as a pure function over bytes: finds whether the local service host
// is already mapped to 127.0.0.1, comments out every other active mapping of that name, and
// appends the installer's entry line. Lines keep their own line ends (CR LF or LF); a last
// line without a line end stays as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qardex::setup {

// The address prefix that marks our own mapping, ending in one blank.
inline constexpr std::string_view kLoopbackPrefix = "127.0.0.1 ";
// The comment that ends the installer's entry line.
inline constexpr std::string_view kEntryMarker = "#mQARDEX use this.";

// CR LF, "127.0.0.1", seven blanks, the host, " #mQARDEX use this. ", CR LF: 40 bytes plus
// the host name.
std::string HostsEntryLine(std::string_view host);

// What one line says about the host.
enum class HostsLine {
  kUnrelated,     // blank, comment, or no whole mention of the host in its active part
  kOurEntry,      // starts with "127.0.0.1 " and names the host
  kOtherMapping,  // names the host with another address or separator
};

// Classifies one line (with or without its line end). Leading blanks (0x20 only) are skipped;
// the host is searched from ten characters after the line's start (just after where
// "127.0.0.1 " would end), before any "#", as a whole name delimited by blanks, tabs or the
// end of the active text.
HostsLine ClassifyHostsLine(std::string_view line, std::string_view host);

struct HostsRewrite {
  bool entryPresent = false;  // the file needs no change at all
  std::size_t commentedLines = 0;
};

// Appends the new content for `old` to `*out`: every line carried whole, other mappings of the
// host with a "#" before their first byte, and the entry line at the end unless the entry is
// present (then the caller keeps the old file and ignores *out).
HostsRewrite RewriteHosts(std::string_view old, std::string_view host, std::string* out);

// Bytes the new content can take at most: the old content, one "#" per line and the entry
// line. Reserve this once and RewriteHosts never needs more memory.
std::size_t HostsRewriteBound(std::size_t oldSize, std::size_t hostLength);

}  // namespace qardex::setup
