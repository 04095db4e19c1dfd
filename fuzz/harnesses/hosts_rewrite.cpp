// The hosts-file rewrite: the output stays within its bound, a second run
// changes nothing, and every line other than the commented mappings and the
// entry line is carried byte for byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/support/finding.h"
#include "setup/hosts_rewrite.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::uint8_t flags = input.ConsumeIntegral<std::uint8_t>();
  const std::string host =
      (flags & 1) ? input.ConsumeRandomLengthString(64) : std::string("local.qardex.example");
  const std::string old = input.ConsumeRemainingBytesAsString();

  std::string out;
  const std::size_t bound = setup::HostsRewriteBound(old.size(), host.size());
  out.reserve(bound);
  const setup::HostsRewrite first = setup::RewriteHosts(old, host, &out);
  QARDEX_FUZZ_CHECK(out.size() <= bound, "rewrite within its bound");
  if (first.entryPresent) return 0;  // the file is kept as it is

  // Every old line is carried whole, behind a "#" where it was another mapping.
  const std::string entry = setup::HostsEntryLine(host);
  QARDEX_FUZZ_CHECK(out.size() == old.size() + first.commentedLines + entry.size() &&
                        out.compare(out.size() - entry.size(), entry.size(), entry) == 0,
                    "old lines and the entry line");
  std::size_t o = 0;
  std::size_t commented = 0;
  for (std::size_t begin = 0; begin < old.size();) {
    const std::size_t newline = old.find('\n', begin);
    const std::size_t end = newline == std::string::npos ? old.size() : newline + 1;
    const std::string line = old.substr(begin, end - begin);
    if (setup::ClassifyHostsLine(line, host) == setup::HostsLine::kOtherMapping) {
      QARDEX_FUZZ_CHECK(out[o] == '#', "other mapping commented out");
      ++o;
      ++commented;
    }
    QARDEX_FUZZ_CHECK(out.compare(o, line.size(), line) == 0, "line carried byte for byte");
    o += line.size();
    begin = end;
  }
  QARDEX_FUZZ_CHECK(commented == first.commentedLines, "commented line count");

  // Where the name can be mapped at all, the second run finds the entry and stops.
  std::string again;
  const setup::HostsRewrite second = setup::RewriteHosts(out, host, &again);
  const bool plainName = !host.empty() && host.find_first_of(" \t\r\n#") == std::string::npos;
  if (plainName) {
    QARDEX_FUZZ_CHECK(second.entryPresent, "a second run changes nothing");
  }
  return 0;
}
