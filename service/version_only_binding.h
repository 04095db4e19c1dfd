// A stand-in until the engine runs the twelve methods for the service: the
// version and sessions work, a session answers GetVersion, and every other
// method fails its call (the caller sees a 500).
#pragma once

#include "service/method_binding.h"

namespace qardex::service {

class VersionOnlyProvider : public MethodProvider {
 public:
  std::u16string Version() override;
  std::unique_ptr<MethodSession> OpenSession() override;
};

}  // namespace qardex::service
