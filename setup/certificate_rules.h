// Size rules for the certificate files: which files the tool left are worth copying, and which
// certificate files the root-store import reads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qardex::setup {

// A source of this size or less is taken for a failed or partial tool run and not copied.
inline constexpr std::uint64_t kCopyMinimumExclusive = 1000;
// The import reads at most this many bytes; a file that fills them is too large.
inline constexpr std::size_t kImportReadLimit = 8192;
// The key's copy is made from at most this many bytes; a larger file is no key of the tool's.
inline constexpr std::size_t kKeyReadLimit = 64 * 1024;

constexpr bool WorthCopying(std::uint64_t sourceSize) { return sourceSize > kCopyMinimumExclusive; }

constexpr bool ImportSizeAccepted(std::size_t bytesRead) {
  return bytesRead > 0 && bytesRead < kImportReadLimit;
}

}  // namespace qardex::setup
