// A thread that nobody waits for, for work that must not hold its starter up (a connection, a
// native message's call).
#pragma once

#include <functional>

namespace qardex::common {

// Runs `work` (which lets nothing escape) on a thread of its own; false when no thread could be
// had. Not std::thread(...).detach(): with this toolchain's thread library a thread that ends
// before its creator detaches it can leave its bookkeeping to the next new thread, which then
// starts without its argument (a crash seen when 200 connections came and closed at once).
bool StartUnwatched(std::function<void()> work);

}  // namespace qardex::common
