// The page protocol's revision, as the service and the host report it beside their versions
// (GET /v1/version, and every new session's answer) and as the page library compares it. A
// revision is raised when the protocol gains something a page library may come to need; the
// oldest library revision is raised only when the service stops serving what older libraries
// ask for. web/CMakeLists.txt reads both numbers from this file for the page library.
#pragma once

namespace qardex::service {

// This service's revision. Services before the first revision report none.
inline constexpr int kPageProtocolRevision = 1;
// The oldest revision of the page library this service serves (libraries before the first
// revision do not compare).
inline constexpr int kOldestLibraryRevision = 1;

}  // namespace qardex::service
