// The twelve methods run by the engine: one engine session per service session, texts
// converted exactly as the control converts them, so a page gets the control's answers.
#pragma once

#include "engine/platform.h"
#include "inprocess/engine_session.h"

namespace qardex::inprocess {

class EngineSessions : public EngineSessionFactory {
 public:
  explicit EngineSessions(engine::Platform& platform) : platform_(platform) {}
  std::unique_ptr<EngineSession> OpenSession() override;

 private:
  engine::Platform& platform_;
};

}  // namespace qardex::inprocess
