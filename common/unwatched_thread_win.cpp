#include "common/unwatched_thread_win.h"

#include <windows.h>

#include <memory>
#include <utility>

namespace qardex::common {

namespace {

DWORD WINAPI RunHandedOver(void* parameter) {
  const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
  (*work)();
  return 0;
}

}  // namespace

bool StartUnwatched(std::function<void()> work) {
  auto handOver = std::make_unique<std::function<void()>>(std::move(work));
  const HANDLE thread = CreateThread(nullptr, 0, RunHandedOver, handOver.get(), 0, nullptr);
  if (thread == nullptr) return false;
  handOver.release();  // the thread owns it now
  CloseHandle(thread);
  return true;
}

}  // namespace qardex::common
