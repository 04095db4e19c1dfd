// A zip archive whose entries are stored as they are (no compression): enough for a support
// bundle of text files that any unzip tool opens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qardex::checkup {

struct ZipEntry {
  std::string name;  // with '/' between folders
  std::string content;
};

// The archive's bytes; `dosTime` and `dosDate` (MS-DOS format) stamp every entry. Entries and
// the whole archive must stay below 4 GiB (no Zip64); larger input gives "".
std::string StoredZip(const std::vector<ZipEntry>& entries, std::uint16_t dosTime,
                      std::uint16_t dosDate);

}  // namespace qardex::checkup
