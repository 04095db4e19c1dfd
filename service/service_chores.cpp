#include "service/service_chores.h"

namespace qardex::service {

void RunChores(const std::vector<std::uint32_t>& signedOff, WorkerPool& pool,
               SessionTable& sessions, Router& router) {
  for (const std::uint32_t windowsSession : signedOff) pool.EndWindowsSession(windowsSession);
  sessions.ExpireIdle();
  pool.RetireIdle();
  router.FlushRefusals();
}

}  // namespace qardex::service
