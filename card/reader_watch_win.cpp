// WinSCard binding of the status-change wait.
#include <windows.h>
#include <winscard.h>

#include <algorithm>

#include "card/reader_watch.h"

namespace qardex::card {

namespace {

class WinSCardStatusChange final : public StatusChangeApi {
 public:
  PcscStatus GetStatusChange(PcscContext context, std::chrono::milliseconds timeout,
                             std::vector<ReaderStatus>& readers) override {
    std::vector<SCARD_READERSTATEA> states(readers.size());
    for (std::size_t i = 0; i < readers.size(); ++i) {
      states[i].szReader = readers[i].reader.c_str();
      states[i].dwCurrentState = readers[i].current;
    }
    const auto wait = std::clamp<long long>(timeout.count(), 0, INFINITE - 1);
    const LONG status =
        SCardGetStatusChangeA(static_cast<SCARDCONTEXT>(context), static_cast<DWORD>(wait),
                              states.data(), static_cast<DWORD>(states.size()));
    for (std::size_t i = 0; i < readers.size(); ++i) readers[i].event = states[i].dwEventState;
    return status;
  }
};

}  // namespace

StatusChangeApi& SystemStatusChange() {
  static WinSCardStatusChange binding;
  return binding;
}

}  // namespace qardex::card
