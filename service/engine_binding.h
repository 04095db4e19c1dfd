// The twelve methods run by the engine: one engine session per service session, texts
// converted exactly as the control converts them, so a page gets the control's answers.
#pragma once

#include "engine/platform.h"
#include "service/method_binding.h"

namespace qardex::service {

class EngineProvider : public MethodProvider {
 public:
  explicit EngineProvider(engine::Platform& platform) : platform_(platform) {}
  std::u16string Version() override;
  std::unique_ptr<MethodSession> OpenSession() override;

 private:
  engine::Platform& platform_;
};

}  // namespace qardex::service
