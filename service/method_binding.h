// What the service needs from whatever runs the methods: sessions that each
// hold what one control holds (lastError, the random generator seeded when
// the session is made), and the component's version.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "service/json_text.h"
#include "service/method_table.h"

namespace qardex::service {

struct CallOutcome {
  JsonValue result;  // of the method's result type
  std::int32_t lastError = 0;
};

class MethodSession {
 public:
  virtual ~MethodSession() = default;
  // The arguments already fit the method. Calls of one session never overlap.
  virtual CallOutcome Call(const MethodSignature& method, const std::vector<JsonValue>& args) = 0;
};

class MethodProvider {
 public:
  virtual ~MethodProvider() = default;
  virtual std::u16string Version() = 0;
  virtual std::unique_ptr<MethodSession> OpenSession() = 0;
};

}  // namespace qardex::service
