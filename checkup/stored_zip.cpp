#include "checkup/stored_zip.h"

#include <array>
#include <limits>

namespace qardex::checkup {

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndOfCentral = 0x06054b50;
constexpr std::uint16_t kVersion = 20;  // 2.0: what a stored entry needs
constexpr std::uint64_t kLimit = std::numeric_limits<std::uint32_t>::max();

std::uint32_t Crc32(const std::string& bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char byte : bytes) {
    crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (crc >> 8);
  }
  return crc ^ 0xFFFFFFFFu;
}

void Put16(std::string& out, std::uint64_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint64_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, (value >> 16) & 0xFFFF);
}

// The fields local and central headers share, from "version needed" to the extra length.
void PutCommon(std::string& out, const ZipEntry& entry, std::uint32_t crc, std::uint16_t dosTime,
               std::uint16_t dosDate) {
  Put16(out, kVersion);
  Put16(out, 0);  // flags
  Put16(out, 0);  // stored
  Put16(out, dosTime);
  Put16(out, dosDate);
  Put32(out, crc);
  Put32(out, entry.content.size());
  Put32(out, entry.content.size());
  Put16(out, entry.name.size());
  Put16(out, 0);  // extra field
}

}  // namespace

std::string StoredZip(const std::vector<ZipEntry>& entries, std::uint16_t dosTime,
                      std::uint16_t dosDate) {
  std::string archive;
  std::string directory;
  if (entries.size() > std::numeric_limits<std::uint16_t>::max()) return "";
  for (const ZipEntry& entry : entries) {
    if (entry.name.size() > std::numeric_limits<std::uint16_t>::max() ||
        archive.size() + entry.content.size() + entry.name.size() + 30 > kLimit) {
      return "";
    }
    const std::uint32_t crc = Crc32(entry.content);
    const std::uint64_t offset = archive.size();
    Put32(archive, kLocalHeader);
    PutCommon(archive, entry, crc, dosTime, dosDate);
    archive += entry.name;
    archive += entry.content;

    Put32(directory, kCentralHeader);
    Put16(directory, kVersion);  // made by: MS-DOS, 2.0
    PutCommon(directory, entry, crc, dosTime, dosDate);
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, 0);  // external attributes
    Put32(directory, offset);
    directory += entry.name;
  }
  if (archive.size() + directory.size() > kLimit) return "";
  const std::uint64_t directoryOffset = archive.size();
  archive += directory;
  Put32(archive, kEndOfCentral);
  Put16(archive, 0);  // this disk
  Put16(archive, 0);  // the directory's disk
  Put16(archive, entries.size());
  Put16(archive, entries.size());
  Put32(archive, directory.size());
  Put32(archive, directoryOffset);
  Put16(archive, 0);  // comment
  return archive;
}

}  // namespace qardex::checkup
