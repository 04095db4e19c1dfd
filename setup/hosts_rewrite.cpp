#include "setup/hosts_rewrite.h"

namespace qardex::setup {

namespace {

constexpr std::size_t kSearchOffset = kLoopbackPrefix.size();
constexpr std::string_view kEntryGap = "       ";  // between the address and the host

bool IsNameDelimiter(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The line without its line end: a final LF and a CR just before it.
std::string_view Body(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Whether `text` names `host` as a whole name at or after `from`.
bool NamesHost(std::string_view text, std::size_t from, std::string_view host) {
  if (host.empty()) return false;
  for (std::size_t at = text.find(host, from); at != std::string_view::npos;
       at = text.find(host, at + 1)) {
    const std::size_t end = at + host.size();
    const bool delimitedBefore = at > 0 && IsNameDelimiter(text[at - 1]);
    const bool delimitedAfter = end == text.size() || IsNameDelimiter(text[end]);
    if (delimitedBefore && delimitedAfter) return true;
  }
  return false;
}

}  // namespace

std::string HostsEntryLine(std::string_view host) {
  std::string line = "\r\n127.0.0.1";
  line += kEntryGap;
  line += host;
  line += ' ';
  line += kEntryMarker;
  line += " \r\n";
  return line;
}

HostsLine ClassifyHostsLine(std::string_view line, std::string_view host) {
  const std::string_view body = Body(line);
  const std::size_t start = body.find_first_not_of(' ');
  if (start == std::string_view::npos) return HostsLine::kUnrelated;
  const char first = body[start];
  if (first == '#' || first == '\r' || first == '\n') return HostsLine::kUnrelated;

  // Only the text before a comment counts; the search stays within it.
  const std::string_view active = body.substr(0, body.find('#', start));
  if (active.size() <= start + kSearchOffset) return HostsLine::kUnrelated;
  if (!NamesHost(active, start + kSearchOffset, host)) return HostsLine::kUnrelated;
  return active.compare(start, kSearchOffset, kLoopbackPrefix) == 0 ? HostsLine::kOurEntry
                                                                    : HostsLine::kOtherMapping;
}

HostsRewrite RewriteHosts(std::string_view old, std::string_view host, std::string* out) {
  HostsRewrite result;
  std::size_t begin = 0;
  while (begin < old.size()) {
    const std::size_t newline = old.find('\n', begin);
    const std::size_t end = newline == std::string_view::npos ? old.size() : newline + 1;
    const std::string_view line = old.substr(begin, end - begin);
    switch (ClassifyHostsLine(line, host)) {
      case HostsLine::kOurEntry:
        result.entryPresent = true;
        break;
      case HostsLine::kOtherMapping:
        out->push_back('#');
        ++result.commentedLines;
        break;
      case HostsLine::kUnrelated:
        break;
    }
    out->append(line);
    begin = end;
  }
  if (!result.entryPresent) out->append(HostsEntryLine(host));
  return result;
}

std::size_t HostsRewriteBound(std::size_t oldSize, std::size_t hostLength) {
  // Every line holds at least one byte, so there are at most oldSize lines to comment out.
  return oldSize + oldSize + HostsEntryLine({}).size() + hostLength;
}

}  // namespace qardex::setup
