// One round of the service's chores, as Housekeeping runs it: the workers of the Windows sessions
// whose users signed off end, expired sessions go, idle workers are closed, and the refusals held
// back reach the log.
#pragma once

#include <cstdint>
#include <vector>

#include "broker/worker_pool.h"
#include "https/router.h"
#include "protocol/session_table.h"

namespace qardex::service {

void RunChores(const std::vector<std::uint32_t>& signedOff, WorkerPool& pool,
               SessionTable& sessions, Router& router);

}  // namespace qardex::service
