#include "cloud/wait_pulse.h"

namespace qardex::cloud {

WaitPulse& NoWaitPulse() {
  class Idle final : public WaitPulse {
   public:
    void Beat() override {}
  };
  static Idle idle;
  return idle;
}

}  // namespace qardex::cloud
