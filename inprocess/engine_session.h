// What the worker needs from whatever runs the methods: sessions that each hold what one control
// holds (lastError, the random generator seeded when the session is made).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ipc/message.h"
#include "ipc/method_table.h"

namespace qardex::inprocess {

struct MethodResult {
  ipc::Value result;  // of the method's result type
  std::int32_t lastError = 0;
};

class EngineSession {
 public:
  virtual ~EngineSession() = default;
  // The arguments already fit the method. Calls of one session never overlap, but successive
  // calls may come on different threads.
  virtual MethodResult Call(const ipc::MethodSignature& method,
                            const std::vector<ipc::Value>& args) = 0;
};

class EngineSessionFactory {
 public:
  virtual ~EngineSessionFactory() = default;
  virtual std::unique_ptr<EngineSession> OpenSession() = 0;
};

}  // namespace qardex::inprocess
