#include "cloud/key_pair_source.h"

namespace qardex::cloud {

namespace {
class MadeInTheCall final : public KeyPairSource {
 public:
  KeyPair Take() override { return generate_key_pair(); }
};
}  // namespace

KeyPairSource& KeysMadeInTheCall() {
  static MadeInTheCall source;
  return source;
}

}  // namespace qardex::cloud
