// libcrypto's life in a library that is loaded and unloaded by its host:
// no exit handler of its own (it would outlive an unloaded library), the
// per-thread state released after each use, everything released on unload.
#pragma once

namespace qardex::cloud {

// Before the first libcrypto call of a method.
void EnsureCryptoLibrary();
// At the end of a method that used libcrypto on this thread.
void ReleaseThreadCryptoState();
// When the library is unloaded (not at process exit).
void CleanupCryptoLibrary();

// Holds libcrypto ready for the length of one method call.
class CryptoLibraryUse {
 public:
  CryptoLibraryUse() { EnsureCryptoLibrary(); }
  ~CryptoLibraryUse() { ReleaseThreadCryptoState(); }
  CryptoLibraryUse(const CryptoLibraryUse&) = delete;
  CryptoLibraryUse& operator=(const CryptoLibraryUse&) = delete;
};

}  // namespace qardex::cloud
