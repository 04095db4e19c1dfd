#include "inprocess/platform_win.h"

#include <atomic>
#include <memory>

#include "cloud/crypto_library.h"
#include "cloud/key_pairs_made_ahead.h"
#include "engine/system_platform.h"

namespace qardex::inprocess {

namespace {

cloud::KeyPair MakeKeyPairAhead(const std::atomic<bool>& stop) {
  const cloud::CryptoLibraryUse crypto;
  return cloud::make_key_pair_unless(stop);
}

}  // namespace

engine::Platform& PlatformWithKeysAhead() {
  static cloud::KeyPairsMadeAhead clientKeys(MakeKeyPairAhead, cloud::KeysMadeInTheCall());
  static const std::unique_ptr<engine::Platform> platform =
      engine::SystemPlatformWithKeys(clientKeys);
  return *platform;
}

}  // namespace qardex::inprocess
