// The methods as this process runs them: sessions that each hold what one control holds
// (lastError, the random generator seeded when the session is made), one card transaction at a
// time among them.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "ipc/message.h"
#include "ipc/method_table.h"

namespace qardex::inprocess {

// How long a call waits for the card to be free (and, in the worker, first for its session's
// previous call); then it is answered Busy without running.
inline constexpr std::chrono::milliseconds kCardWait = std::chrono::seconds(30);

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
