// Starts a worker (this program with --worker PIPE) in the caller's Windows session as that
// session's user, and connects to it over a fresh named pipe that only SYSTEM and that user may
// open.
#pragma once

#include "broker/worker_link.h"

namespace qardex::service {

class PipeWorkerStarter final : public WorkerStarter {
 public:
  std::unique_ptr<WorkerChannel> Start(const Caller& caller, std::string& error) override;
};

}  // namespace qardex::service
